// Black pictures in any describable pixel layout, for the decoder to show
// when it has nothing decoded.
#pragma once

#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace kestrova {

enum class PixelLayoutClass : int32_t {
    NotSynthesisable = 0,
    Gray = 1,
    PlanarYuv = 2,
    SemiPlanarYuv = 3,
    PackedYuv = 4,
    PackedRgb = 5,
    PlanarRgb = 6,
};

// Classifies a descriptor; `planeCount` receives 1 + the highest plane used.
PixelLayoutClass classifyPixelLayout(const AVPixFmtDescriptor* descriptor, int& planeCount);

// Builds a black picture of `pixelFormat` into `buffer` (reused between
// calls) and points `data`/`linesize` at its planes. `colourRange` is
// FFmpeg's range value (2 = full).
[[nodiscard]] bool synthesiseBlackFrame(int32_t pixelFormat, int32_t width, int32_t height,
                                        int32_t colourRange, std::vector<uint8_t>& buffer,
                                        uint8_t* data[8], int linesize[8]);

}  // namespace kestrova
