#include "captions/caption.h"

#include <cmath>
#include <limits>

namespace kestrova {

int64_t captionTime(bool present, int64_t timestamp, int64_t timeBaseNum, int64_t timeBaseDen,
                    int64_t rateNum, int64_t rateDen) {
    if (!present || timeBaseDen == 0 || rateDen == 0) {
        return 0;
    }
    const double frames = (static_cast<double>(rateNum) / static_cast<double>(rateDen)) *
                          (static_cast<double>(timeBaseNum) * static_cast<double>(timestamp) /
                           static_cast<double>(timeBaseDen));
    // A timestamp far outside any real clip must not overflow the conversion.
    constexpr double kLimit = 9.0e18;
    if (std::isnan(frames)) {
        return 0;
    }
    if (frames >= kLimit || frames <= -kLimit) {
        return frames < 0 ? std::numeric_limits<int64_t>::min()
                          : std::numeric_limits<int64_t>::max();
    }
    return static_cast<int64_t>(std::trunc(frames));
}

std::string captionTextFromPayload(const uint8_t* data, std::size_t size) {
    if (!data || size == 0) {
        return {};
    }
    if (data[size - 1] == 0) {
        --size;
    }
    return std::string(reinterpret_cast<const char*>(data), size);
}

}  // namespace kestrova
