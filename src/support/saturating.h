// Sums and differences of timestamps that come from files and hosts, held at
// the ends of the range instead of overflowing. The least value is left out:
// FFmpeg reads it as "no timestamp".
#pragma once

#include <cstdint>
#include <limits>

namespace kestrova {

inline constexpr int64_t kLeastTimestamp = std::numeric_limits<int64_t>::min() + 1;

inline int64_t saturatingAdd(int64_t a, int64_t b) {
    int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        return b < 0 ? kLeastTimestamp : std::numeric_limits<int64_t>::max();
    }
    return sum < kLeastTimestamp ? kLeastTimestamp : sum;
}

inline int64_t saturatingSub(int64_t a, int64_t b) {
    int64_t difference = 0;
    if (__builtin_sub_overflow(a, b, &difference)) {
        return b > 0 ? kLeastTimestamp : std::numeric_limits<int64_t>::max();
    }
    return difference < kLeastTimestamp ? kLeastTimestamp : difference;
}

}  // namespace kestrova
