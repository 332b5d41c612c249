// AVX2 rows of the three table kernels. Built with -mavx2 for this file only
// (no fused multiply-add), so nothing here may be an inline function shared
// with other files: the linker could keep this file's copy for every caller.
#include <immintrin.h>

#include "pixels/kernel_table.h"

namespace kestrova {
namespace {

__m256i twoLanes(__m128i low, __m128i high) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

__m128i load64(const void* p) {
    return _mm_loadl_epi64(static_cast<const __m128i*>(p));
}

__m128i load128(const void* p) {
    return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

void yuvToRgbFloatRow(const YuvRow16& row, const YuvToFloatCoefficients& k, float* out) {
    if (row.shiftX > 1) {
        yuvToRgbFloatRowScalar(row, k, out);
        return;
    }
    const __m256i mask = _mm256_set1_epi32(row.mask);
    const __m256 yOffset = _mm256_set1_ps(k.yOffset), yDivisor = _mm256_set1_ps(k.yDivisor);
    const __m256 cOffset = _mm256_set1_ps(k.cOffset), cDivisor = _mm256_set1_ps(k.cDivisor);
    const __m256 alphaDivisor = _mm256_set1_ps(k.alphaDivisor), one = _mm256_set1_ps(1.0f);
    const __m256 crToR = _mm256_set1_ps(k.crToR), cbToG = _mm256_set1_ps(k.cbToG);
    const __m256 crToG = _mm256_set1_ps(k.crToG), cbToB = _mm256_set1_ps(k.cbToB);
    auto widen = [&](__m128i samples) {
        return _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_cvtepu16_epi32(samples), mask));
    };
    auto chroma = [&](const uint16_t* plane, int32_t x) {
        if (row.shiftX == 0) {
            return widen(load128(plane + x));
        }
        const __m128i four = load64(plane + x / 2);
        return widen(_mm_unpacklo_epi16(four, four));
    };
    int32_t x = 0;
    for (; x + 8 <= row.width; x += 8) {
        const __m256 y = _mm256_div_ps(_mm256_sub_ps(widen(load128(row.y + x)), yOffset), yDivisor);
        const __m256 cb = _mm256_div_ps(_mm256_sub_ps(chroma(row.u, x), cOffset), cDivisor);
        const __m256 cr = _mm256_div_ps(_mm256_sub_ps(chroma(row.v, x), cOffset), cDivisor);
        const __m256 b = _mm256_add_ps(y, _mm256_mul_ps(cbToB, cb));
        const __m256 g =
            _mm256_add_ps(_mm256_add_ps(y, _mm256_mul_ps(cbToG, cb)), _mm256_mul_ps(crToG, cr));
        const __m256 r = _mm256_add_ps(y, _mm256_mul_ps(crToR, cr));
        const __m256 a = row.a ? _mm256_div_ps(widen(load128(row.a + x)), alphaDivisor) : one;
        // Per 128-bit lane: pixels 0-3 in the low lane, 4-7 in the high one.
        const __m256 bgLow = _mm256_unpacklo_ps(b, g), raLow = _mm256_unpacklo_ps(r, a);
        const __m256 bgHigh = _mm256_unpackhi_ps(b, g), raHigh = _mm256_unpackhi_ps(r, a);
        const __m256 p0 = _mm256_shuffle_ps(bgLow, raLow, 0x44);
        const __m256 p1 = _mm256_shuffle_ps(bgLow, raLow, 0xEE);
        const __m256 p2 = _mm256_shuffle_ps(bgHigh, raHigh, 0x44);
        const __m256 p3 = _mm256_shuffle_ps(bgHigh, raHigh, 0xEE);
        float* p = out + 4 * static_cast<int64_t>(x);
        _mm256_storeu_ps(p, _mm256_permute2f128_ps(p0, p1, 0x20));
        _mm256_storeu_ps(p + 8, _mm256_permute2f128_ps(p2, p3, 0x20));
        _mm256_storeu_ps(p + 16, _mm256_permute2f128_ps(p0, p1, 0x31));
        _mm256_storeu_ps(p + 24, _mm256_permute2f128_ps(p2, p3, 0x31));
    }
    if (x < row.width) {
        const int32_t c = x >> row.shiftX;
        const YuvRow16 tail{row.y + x,     row.u + c,  row.v + c, row.a ? row.a + x : nullptr,
                            row.width - x, row.shiftX, row.mask};
        yuvToRgbFloatRowScalar(tail, k, out + 4 * static_cast<int64_t>(x));
    }
}

__m256i duplicateBytes(__m128i sixteen) {
    const __m256i words = _mm256_cvtepu8_epi16(sixteen);
    return _mm256_or_si256(words, _mm256_slli_epi16(words, 8));
}

void interleaveVuyaRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, const uint8_t* a,
                       int32_t width, int32_t shiftX, uint8_t* out) {
    const __m256i opaque = _mm256_set1_epi8(static_cast<char>(0xFF));
    int32_t x = 0;
    for (; x + 32 <= width; x += 32) {
        __m256i cb, cr;
        if (shiftX == 0) {
            cb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(u + x));
            cr = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + x));
        } else {
            cb = duplicateBytes(load128(u + x / 2));
            cr = duplicateBytes(load128(v + x / 2));
        }
        const __m256i luma = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y + x));
        const __m256i alpha =
            a ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + x)) : opaque;
        // Unpacks work per 128-bit lane: pixels 0-15 low, 16-31 high.
        const __m256i vuLow = _mm256_unpacklo_epi8(cr, cb), vuHigh = _mm256_unpackhi_epi8(cr, cb);
        const __m256i yaLow = _mm256_unpacklo_epi8(luma, alpha);
        const __m256i yaHigh = _mm256_unpackhi_epi8(luma, alpha);
        const __m256i o0 = _mm256_unpacklo_epi16(vuLow, yaLow);
        const __m256i o1 = _mm256_unpackhi_epi16(vuLow, yaLow);
        const __m256i o2 = _mm256_unpacklo_epi16(vuHigh, yaHigh);
        const __m256i o3 = _mm256_unpackhi_epi16(vuHigh, yaHigh);
        __m256i* p = reinterpret_cast<__m256i*>(out + 4 * static_cast<int64_t>(x));
        _mm256_storeu_si256(p, _mm256_permute2x128_si256(o0, o1, 0x20));
        _mm256_storeu_si256(p + 1, _mm256_permute2x128_si256(o2, o3, 0x20));
        _mm256_storeu_si256(p + 2, _mm256_permute2x128_si256(o0, o1, 0x31));
        _mm256_storeu_si256(p + 3, _mm256_permute2x128_si256(o2, o3, 0x31));
    }
    if (x < width) {
        const int32_t c = x >> shiftX;
        interleaveVuyaRowScalar(y + x, u + c, v + c, a ? a + x : nullptr, width - x, shiftX,
                                out + 4 * static_cast<int64_t>(x));
    }
}

// Byte shuffles that place one group's samples as 32-bit fields: from the
// luma lane Y0..Y7 and the chroma lane U0..U3 V0..V3 (16-bit samples); each
// 128-bit lane holds one group.
#define Z -1
#define S(i) 2 * (i), 2 * (i) + 1, Z, Z
#define N Z, Z, Z, Z
#define V(i) S(4 + (i))
#define BOTH(...) _mm256_setr_epi8(__VA_ARGS__, __VA_ARGS__)

void packV210Row(const uint16_t* y, const uint16_t* u, const uint16_t* v, int32_t width,
                 uint8_t* out) {
    const __m256i lowFromY = BOTH(N, S(1), N, S(4));
    const __m256i lowFromC = BOTH(S(0), N, V(1), N);
    const __m256i midFromY = BOTH(S(0), N, S(3), N);
    const __m256i midFromC = BOTH(N, S(1), N, V(2));
    const __m256i highFromY = BOTH(N, S(2), N, S(5));
    const __m256i highFromC = BOTH(V(0), N, S(2), N);
    const __m256i tenBits = _mm256_set1_epi16(0x3FF);
    int32_t x = 0;
    for (; x + 14 <= width; x += 12, out += 32) {
        const int32_t c = x / 2;
        const __m256i luma =
            _mm256_and_si256(twoLanes(load128(y + x), load128(y + x + 6)), tenBits);
        const __m256i chroma =
            _mm256_and_si256(twoLanes(_mm_unpacklo_epi64(load64(u + c), load64(v + c)),
                                      _mm_unpacklo_epi64(load64(u + c + 3), load64(v + c + 3))),
                             tenBits);
        const __m256i low = _mm256_or_si256(_mm256_shuffle_epi8(luma, lowFromY),
                                            _mm256_shuffle_epi8(chroma, lowFromC));
        const __m256i mid = _mm256_or_si256(_mm256_shuffle_epi8(luma, midFromY),
                                            _mm256_shuffle_epi8(chroma, midFromC));
        const __m256i high = _mm256_or_si256(_mm256_shuffle_epi8(luma, highFromY),
                                             _mm256_shuffle_epi8(chroma, highFromC));
        const __m256i words = _mm256_or_si256(
            low, _mm256_or_si256(_mm256_slli_epi32(mid, 10), _mm256_slli_epi32(high, 20)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), words);
    }
    if (x < width) {
        packV210RowScalar(y + x, u + x / 2, v + x / 2, width - x, out);
    }
}

#undef BOTH
#undef V
#undef N
#undef S
#undef Z

}  // namespace

extern const KernelTable kAvx2Kernels = {yuvToRgbFloatRow, interleaveVuyaRow, packV210Row, 2};

}  // namespace kestrova
