// Reading a delivered PPix back: 8-bit RGB for viewing and for colour checks,
// and a hash of the picture's bytes that ignores row padding.
#pragma once

#include <cstdint>
#include <vector>

#include "ppix_buffers.h"

namespace kestrova::hostsim {

// Top row first, three bytes per pixel (R, G, B).
struct RgbImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgb;

    const uint8_t* pixel(int32_t x, int32_t y) const {
        return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
    }
};

// YUV formats use the matrix (BT.601, BT.709, or BT.2020 for the P0, PO and
// PH families) and range their FourCC variant names; float formats are read
// as 0..1, 16-bit RGB against its 0..32768 white point. No tone mapping.
RgbImage viewAsRgb(const PPixBuffer& picture);

// 64-bit FNV-1a of the visible bytes of every plane, in memory order.
uint64_t visibleHash(const PPixBuffer& picture);

}  // namespace kestrova::hostsim
