// Scalar rows of the three table kernels: the reference the SIMD variants
// must reproduce.
#include <cstring>

#include "pixels/kernel_table.h"

namespace kestrova {

void yuvToRgbFloatRowScalar(const YuvRow16& row, const YuvToFloatCoefficients& k, float* out) {
    for (int32_t x = 0; x < row.width; ++x) {
        const int32_t c = x >> row.shiftX;
        const float y = (static_cast<float>(row.y[x] & row.mask) - k.yOffset) / k.yDivisor;
        const float cb = (static_cast<float>(row.u[c] & row.mask) - k.cOffset) / k.cDivisor;
        const float cr = (static_cast<float>(row.v[c] & row.mask) - k.cOffset) / k.cDivisor;
        float* pixel = out + 4 * static_cast<int64_t>(x);
        pixel[0] = y + k.cbToB * cb;
        pixel[1] = y + k.cbToG * cb + k.crToG * cr;
        pixel[2] = y + k.crToR * cr;
        pixel[3] = row.a ? static_cast<float>(row.a[x] & row.mask) / k.alphaDivisor : 1.0f;
    }
}

void interleaveVuyaRowScalar(const uint8_t* y, const uint8_t* u, const uint8_t* v, const uint8_t* a,
                             int32_t width, int32_t shiftX, uint8_t* out) {
    for (int32_t x = 0; x < width; ++x) {
        const int32_t c = x >> shiftX;
        uint8_t* pixel = out + 4 * static_cast<int64_t>(x);
        pixel[0] = v[c];
        pixel[1] = u[c];
        pixel[2] = y[x];
        pixel[3] = a ? a[x] : 255;
    }
}

namespace {

uint32_t packWord(uint32_t low, uint32_t middle, uint32_t high) {
    return (low & 0x3FF) | ((middle & 0x3FF) << 10) | ((high & 0x3FF) << 20);
}

void storeWord(uint8_t* out, uint32_t word) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8),
                              static_cast<uint8_t>(word >> 16), static_cast<uint8_t>(word >> 24)};
    std::memcpy(out, bytes, 4);
}

}  // namespace

void packV210RowScalar(const uint16_t* y, const uint16_t* u, const uint16_t* v, int32_t width,
                       uint8_t* out) {
    if (width < 1) {
        return;
    }
    const int32_t lastLuma = width - 1;
    const int32_t lastChroma = (width + 1) / 2 - 1;
    // A partial last group repeats the edge samples.
    auto luma = [&](int32_t i) -> uint32_t { return y[i < lastLuma ? i : lastLuma]; };
    auto cb = [&](int32_t i) -> uint32_t { return u[i < lastChroma ? i : lastChroma]; };
    auto cr = [&](int32_t i) -> uint32_t { return v[i < lastChroma ? i : lastChroma]; };
    for (int32_t x = 0; x < width; x += 6, out += 16) {
        const int32_t c = x / 2;
        storeWord(out, packWord(cb(c), luma(x), cr(c)));
        storeWord(out + 4, packWord(luma(x + 1), cb(c + 1), luma(x + 2)));
        storeWord(out + 8, packWord(cr(c + 1), luma(x + 3), cb(c + 2)));
        storeWord(out + 12, packWord(luma(x + 4), cr(c + 2), luma(x + 5)));
    }
}

extern const KernelTable kScalarKernels = {yuvToRgbFloatRowScalar, interleaveVuyaRowScalar,
                                           packV210RowScalar, 0};

}  // namespace kestrova
