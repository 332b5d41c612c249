// Row helpers shared by the copy routes and the kernels: source row
// addressing, 16-bit samples and the 4:2:0 planar-to-biplanar interleave.
// Not for the SIMD files: their copies of inline functions could win at link.
#pragma once

#include <cstdint>
#include <cstring>

#include "ffmpeg/ffmpeg_runtime.h"

namespace kestrova {

inline const uint8_t* sourceRow(const AVFrame& frame, int plane, int32_t y) {
    return frame.data[plane] + static_cast<int64_t>(y) * frame.linesize[plane];
}

inline uint16_t load16le(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

inline void store16(uint8_t* p, uint16_t v) {
    std::memcpy(p, &v, 2);
}

// Ten bits in the low bits of each word move to the high bits.
inline uint16_t toHighBits(const uint8_t* p) {
    return static_cast<uint16_t>(load16le(p) << 6);
}

inline void highBitsRow(const uint8_t* src, int32_t samples, uint8_t* dst) {
    for (int32_t x = 0; x < samples; ++x) {
        store16(dst + 2 * x, toHighBits(src + 2 * x));
    }
}

// `pairs` U, V pairs from two chroma rows: bytes, or 10-bit words moved to
// the high bits when `wide`.
inline void interleaveChromaRow(const uint8_t* u, const uint8_t* v, int32_t pairs, bool wide,
                                uint8_t* uv) {
    for (int32_t i = 0; i < pairs; ++i) {
        if (wide) {
            store16(uv + 4 * i, toHighBits(u + 2 * i));
            store16(uv + 4 * i + 2, toHighBits(v + 2 * i));
        } else {
            uv[2 * i] = u[i];
            uv[2 * i + 1] = v[i];
        }
    }
}

}  // namespace kestrova
