#include "captions/caption.h"

#include <algorithm>
#include <limits>

namespace kestrova {

int64_t captionTime(bool present, int64_t timestamp, int64_t timeBaseNum, int64_t timeBaseDen,
                    int64_t rateNum, int64_t rateDen) {
    if (!present || timeBaseDen == 0 || rateDen == 0) {
        return 0;
    }
    // Exact rational arithmetic: in doubles a caption exactly on frame 15
    // (30000/1001 frames per second, 45045 ticks of 1/90000) comes out as
    // 14.999999... and truncates to the frame before. 128 bits hold every
    // product of 64-bit terms that real rates and time bases reach; the rest
    // is clamped.
    using Wide = __int128;
    constexpr Wide kLimit = Wide{1} << 125;
    const Wide scale = Wide{rateNum} * Wide{timeBaseNum};
    const Wide divisor = Wide{rateDen} * Wide{timeBaseDen};
    const Wide magnitude = scale < 0 ? -scale : scale;
    const Wide ticks = timestamp < 0 ? -Wide{timestamp} : Wide{timestamp};
    if (magnitude != 0 && ticks > kLimit / magnitude) {
        return (scale < 0) != (timestamp < 0) ? std::numeric_limits<int64_t>::min()
                                              : std::numeric_limits<int64_t>::max();
    }
    // Integer division truncates toward zero, as the host expects.
    const Wide frames = scale * Wide{timestamp} / divisor;
    return static_cast<int64_t>(std::clamp<Wide>(frames, std::numeric_limits<int64_t>::min(),
                                                 std::numeric_limits<int64_t>::max()));
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

std::string captionTextFromTimedTextSample(const uint8_t* data, std::size_t size) {
    if (!data || size < 2) {
        return {};
    }
    const std::size_t length = std::size_t{data[0]} << 8 | data[1];
    return std::string(reinterpret_cast<const char*>(data + 2), std::min(length, size - 2));
}

}  // namespace kestrova
