// SSE4.2 rows of the three table kernels. Built with -msse4.2 for this file
// only, so nothing here may be an inline function shared with other files:
// the linker could keep this file's copy for processors without SSE4.2.
#include <immintrin.h>

#include "pixels/kernel_table.h"

namespace kestrova {
namespace {

void yuvToRgbFloatRow(const YuvRow16& row, const YuvToFloatCoefficients& k, float* out) {
    if (row.shiftX > 1) {
        yuvToRgbFloatRowScalar(row, k, out);
        return;
    }
    const __m128i mask = _mm_set1_epi32(row.mask);
    const __m128 yOffset = _mm_set1_ps(k.yOffset), yDivisor = _mm_set1_ps(k.yDivisor);
    const __m128 cOffset = _mm_set1_ps(k.cOffset), cDivisor = _mm_set1_ps(k.cDivisor);
    const __m128 alphaDivisor = _mm_set1_ps(k.alphaDivisor), one = _mm_set1_ps(1.0f);
    const __m128 crToR = _mm_set1_ps(k.crToR), cbToG = _mm_set1_ps(k.cbToG);
    const __m128 crToG = _mm_set1_ps(k.crToG), cbToB = _mm_set1_ps(k.cbToB);
    auto widen = [&](__m128i samples) {
        return _mm_cvtepi32_ps(_mm_and_si128(_mm_cvtepu16_epi32(samples), mask));
    };
    auto chroma = [&](const uint16_t* plane, int32_t x) {
        if (row.shiftX == 0) {
            return widen(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(plane + x)));
        }
        const __m128i pair = _mm_loadu_si32(plane + x / 2);
        return widen(_mm_unpacklo_epi16(pair, pair));
    };
    int32_t x = 0;
    for (; x + 4 <= row.width; x += 4) {
        const __m128 luma = widen(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row.y + x)));
        const __m128 y = _mm_div_ps(_mm_sub_ps(luma, yOffset), yDivisor);
        const __m128 cb = _mm_div_ps(_mm_sub_ps(chroma(row.u, x), cOffset), cDivisor);
        const __m128 cr = _mm_div_ps(_mm_sub_ps(chroma(row.v, x), cOffset), cDivisor);
        const __m128 b = _mm_add_ps(y, _mm_mul_ps(cbToB, cb));
        const __m128 g = _mm_add_ps(_mm_add_ps(y, _mm_mul_ps(cbToG, cb)), _mm_mul_ps(crToG, cr));
        const __m128 r = _mm_add_ps(y, _mm_mul_ps(crToR, cr));
        const __m128 a =
            row.a ? _mm_div_ps(widen(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row.a + x))),
                               alphaDivisor)
                  : one;
        const __m128 bgLow = _mm_unpacklo_ps(b, g), raLow = _mm_unpacklo_ps(r, a);
        const __m128 bgHigh = _mm_unpackhi_ps(b, g), raHigh = _mm_unpackhi_ps(r, a);
        float* p = out + 4 * static_cast<int64_t>(x);
        _mm_storeu_ps(p, _mm_movelh_ps(bgLow, raLow));
        _mm_storeu_ps(p + 4, _mm_movehl_ps(raLow, bgLow));
        _mm_storeu_ps(p + 8, _mm_movelh_ps(bgHigh, raHigh));
        _mm_storeu_ps(p + 12, _mm_movehl_ps(raHigh, bgHigh));
    }
    if (x < row.width) {
        const int32_t c = x >> row.shiftX;
        const YuvRow16 tail{row.y + x,     row.u + c,  row.v + c, row.a ? row.a + x : nullptr,
                            row.width - x, row.shiftX, row.mask};
        yuvToRgbFloatRowScalar(tail, k, out + 4 * static_cast<int64_t>(x));
    }
}

void interleaveVuyaRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, const uint8_t* a,
                       int32_t width, int32_t shiftX, uint8_t* out) {
    const __m128i opaque = _mm_set1_epi8(static_cast<char>(0xFF));
    int32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        __m128i cb, cr;
        if (shiftX == 0) {
            cb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u + x));
            cr = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + x));
        } else {
            cb = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + x / 2));
            cr = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + x / 2));
            cb = _mm_unpacklo_epi8(cb, cb);
            cr = _mm_unpacklo_epi8(cr, cr);
        }
        const __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
        const __m128i alpha = a ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + x)) : opaque;
        const __m128i vuLow = _mm_unpacklo_epi8(cr, cb), vuHigh = _mm_unpackhi_epi8(cr, cb);
        const __m128i yaLow = _mm_unpacklo_epi8(luma, alpha),
                      yaHigh = _mm_unpackhi_epi8(luma, alpha);
        __m128i* p = reinterpret_cast<__m128i*>(out + 4 * static_cast<int64_t>(x));
        _mm_storeu_si128(p, _mm_unpacklo_epi16(vuLow, yaLow));
        _mm_storeu_si128(p + 1, _mm_unpackhi_epi16(vuLow, yaLow));
        _mm_storeu_si128(p + 2, _mm_unpacklo_epi16(vuHigh, yaHigh));
        _mm_storeu_si128(p + 3, _mm_unpackhi_epi16(vuHigh, yaHigh));
    }
    if (x < width) {
        const int32_t c = x >> shiftX;
        interleaveVuyaRowScalar(y + x, u + c, v + c, a ? a + x : nullptr, width - x, shiftX,
                                out + 4 * static_cast<int64_t>(x));
    }
}

// Byte shuffles that place one group's samples as 32-bit fields: from the
// luma vector Y0..Y7 and the chroma vector U0..U3 V0..V3 (16-bit lanes).
#define Z -1
#define S(i) 2 * (i), 2 * (i) + 1, Z, Z
#define N Z, Z, Z, Z
#define V(i) S(4 + (i))

void packV210Row(const uint16_t* y, const uint16_t* u, const uint16_t* v, int32_t width,
                 uint8_t* out) {
    const __m128i lowFromY = _mm_setr_epi8(N, S(1), N, S(4));
    const __m128i lowFromC = _mm_setr_epi8(S(0), N, V(1), N);
    const __m128i midFromY = _mm_setr_epi8(S(0), N, S(3), N);
    const __m128i midFromC = _mm_setr_epi8(N, S(1), N, V(2));
    const __m128i highFromY = _mm_setr_epi8(N, S(2), N, S(5));
    const __m128i highFromC = _mm_setr_epi8(V(0), N, S(2), N);
    const __m128i tenBits = _mm_set1_epi16(0x3FF);
    int32_t x = 0;
    for (; x + 8 <= width; x += 6, out += 16) {
        const int32_t c = x / 2;
        const __m128i luma =
            _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x)), tenBits);
        const __m128i chroma = _mm_and_si128(
            _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + c)),
                               _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + c))),
            tenBits);
        const __m128i low =
            _mm_or_si128(_mm_shuffle_epi8(luma, lowFromY), _mm_shuffle_epi8(chroma, lowFromC));
        const __m128i mid =
            _mm_or_si128(_mm_shuffle_epi8(luma, midFromY), _mm_shuffle_epi8(chroma, midFromC));
        const __m128i high =
            _mm_or_si128(_mm_shuffle_epi8(luma, highFromY), _mm_shuffle_epi8(chroma, highFromC));
        const __m128i words =
            _mm_or_si128(low, _mm_or_si128(_mm_slli_epi32(mid, 10), _mm_slli_epi32(high, 20)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), words);
    }
    if (x < width) {
        packV210RowScalar(y + x, u + x / 2, v + x / 2, width - x, out);
    }
}

#undef V
#undef N
#undef S
#undef Z

}  // namespace

extern const KernelTable kSse42Kernels = {yuvToRgbFloatRow, interleaveVuyaRow, packV210Row, 1};

}  // namespace kestrova
