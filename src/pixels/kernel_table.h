// The three heaviest kernels per instruction-set level, chosen once per
// process from what the processor offers.
#pragma once

#include <cstdint>

namespace kestrova {

// Scale and matrix of one YUV-to-RGB-float conversion: Y = (y - yOffset) /
// yDivisor, C = (c - cOffset) / cDivisor, R = Y + crToR Cr, G = Y + cbToG Cb +
// crToG Cr, B = Y + cbToB Cb, A = a / alphaDivisor.
struct YuvToFloatCoefficients {
    float yOffset;
    float yDivisor;
    float cOffset;
    float cDivisor;
    float alphaDivisor;
    float crToR;
    float cbToG;
    float crToG;
    float cbToB;
};

// One row of 16-bit planar YUV; chroma sample x >> shiftX; `a` null gives 1.0.
struct YuvRow16 {
    const uint16_t* y;
    const uint16_t* u;
    const uint16_t* v;
    const uint16_t* a;
    int32_t width;
    int32_t shiftX;
    uint16_t mask;
};

// B, G, R, A floats per pixel.
using YuvFloatRowFn = void (*)(const YuvRow16& row, const YuvToFloatCoefficients& k, float* out);
// V, U, Y, A bytes per pixel; chroma sample x >> shiftX (0 or 1); `a` null gives 255.
using VuyaRowFn = void (*)(const uint8_t* y, const uint8_t* u, const uint8_t* v, const uint8_t* a,
                           int32_t width, int32_t shiftX, uint8_t* out);
// (width + 5) / 6 groups of four little-endian words from 16-bit 4:2:2 planes.
using V210RowFn = void (*)(const uint16_t* y, const uint16_t* u, const uint16_t* v, int32_t width,
                           uint8_t* out);

struct KernelTable {
    YuvFloatRowFn yuvToRgbFloat;
    VuyaRowFn interleaveVuya;
    V210RowFn packV210;
    int32_t level;  // 0 scalar, 1 SSE4.2, 2 AVX2
};

// Defined by the scalar, SSE4.2 and AVX2 files.
extern const KernelTable kScalarKernels;
extern const KernelTable kSse42Kernels;
extern const KernelTable kAvx2Kernels;

// The scalar rows, also the tails of the SIMD variants.
void yuvToRgbFloatRowScalar(const YuvRow16& row, const YuvToFloatCoefficients& k, float* out);
void interleaveVuyaRowScalar(const uint8_t* y, const uint8_t* u, const uint8_t* v, const uint8_t* a,
                             int32_t width, int32_t shiftX, uint8_t* out);
void packV210RowScalar(const uint16_t* y, const uint16_t* u, const uint16_t* v, int32_t width,
                       uint8_t* out);

// The level this process uses: probed once; KESTROVA_FORCE_SCALAR beginning
// with "1" forces the scalar table.
const KernelTable& activeKernelTable();
// A level's table, or null when this processor cannot run it.
const KernelTable* kernelTableForLevel(int32_t level);

}  // namespace kestrova
