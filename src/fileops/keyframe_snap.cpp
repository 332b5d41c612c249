#include "fileops/keyframe_snap.h"

#include <algorithm>
#include <limits>

namespace kestrova::fileops {

TrimSpan snapToKeyframe(const std::vector<int64_t>& keyframes, TrimSpan requested) {
    if (keyframes.empty()) {
        return requested;
    }
    auto after =
        std::upper_bound(keyframes.begin(), keyframes.end(), static_cast<int64_t>(requested.in));
    const int64_t keyframe = after == keyframes.begin() ? keyframes.front() : *(after - 1);
    const int64_t in = std::min<int64_t>(keyframe, requested.in);
    const int64_t duration =
        static_cast<int64_t>(requested.duration) + (static_cast<int64_t>(requested.in) - in);
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    return {static_cast<int32_t>(std::clamp(in, kMin, kMax)),
            static_cast<int32_t>(std::clamp(duration, kMin, kMax))};
}

}  // namespace kestrova::fileops
