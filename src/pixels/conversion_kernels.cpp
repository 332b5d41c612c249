// Per-kind preparation and row loops of the kernel route. Everything a row
// loop needs is checked once in prepareKernelJob, so ranges cannot fail.
#include "pixels/conversion_kernels.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "ffmpeg/ffmpeg_runtime.h"
#include "pixels/plane_layout.h"
#include "pixels/plane_rows.h"
#include "pixels/row_copy.h"

namespace kestrova {
namespace {

uint8_t* destinationRow(const KernelJob& job, int32_t y, bool bottomUp) {
    const int32_t row = bottomUp ? job.height - 1 - y : y;
    return job.out + static_cast<int64_t>(row) * job.rowBytes;
}

uint16_t load16(const uint8_t* p, bool bigEndian) {
    return bigEndian ? static_cast<uint16_t>(p[0] << 8 | p[1]) : load16le(p);
}

void storeFloats(uint8_t* p, float b, float g, float r, float a) {
    const float values[4] = {b, g, r, a};
    std::memcpy(p, values, sizeof values);
}

int32_t depthOf(const AVPixFmtDescriptor& d) {
    return std::clamp(d.comp[0].depth, 1, 16);
}

uint32_t maskOf(int32_t depth) {
    return (1u << depth) - 1u;
}

// Every component sits alone in a little-endian 16-bit word of its own
// plane, in the low bits.
bool plainWords16(const AVPixFmtDescriptor& d) {
    if ((d.flags & AV_PIX_FMT_FLAG_BE) != 0 || d.comp[0].depth <= 8) {
        return false;
    }
    for (int i = 0; i < d.nb_components; ++i) {
        if (d.comp[i].step != 2 || d.comp[i].offset != 0 || d.comp[i].shift != 0) {
            return false;
        }
    }
    return true;
}

bool hasAlphaPlane(const KernelJob& job) {
    return (job.descriptor->flags & AV_PIX_FMT_FLAG_ALPHA) != 0 && job.frame->data[3] != nullptr &&
           job.frame->linesize[3] != 0;
}

// Destination units per pixel from the row size and the destination width
// (so a narrower frame keeps the host's pixel spacing), at least `minimum`;
// 0 when the row cannot hold the working width at that spacing.
int32_t strideFrom(const KernelJob& job, int32_t unitBytes, int32_t minimum) {
    const int64_t row = std::abs(job.rowBytes);
    const int64_t perPixel = row / (unitBytes * int64_t{std::max(job.destinationWidth, 1)});
    const int64_t stride = std::clamp<int64_t>(perPixel, minimum, 1 << 20);
    return stride * unitBytes * job.width <= row ? static_cast<int32_t>(stride) : 0;
}

// ---- PlaneCopy, PackedCopy ----
void copyRows(const KernelJob& job, int32_t begin, int32_t end, bool bottomUp) {
    const int64_t bytes =
        std::min<int64_t>(std::abs(job.rowBytes), std::abs(job.frame->linesize[0]));
    const RowCopy copy(int64_t{end - begin} * bytes);
    for (int32_t y = begin; y < end; ++y) {
        copy(destinationRow(job, y, bottomUp), sourceRow(*job.frame, 0, y), bytes);
    }
}

// ---- Shuffle ----
void shuffleRows(const KernelJob& job, int32_t begin, int32_t end) {
    const AVComponentDescriptor* c = job.descriptor->comp;
    const bool alpha = job.descriptor->nb_components >= 4;
    const int32_t step = c[0].step;
    for (int32_t y = begin; y < end; ++y) {
        const uint8_t* src = sourceRow(*job.frame, 0, y);
        uint8_t* dst = destinationRow(job, y, true);
        for (int32_t x = 0; x < job.width; ++x, src += step, dst += job.pixelStride) {
            dst[0] = src[c[2].offset];
            dst[1] = src[c[1].offset];
            dst[2] = src[c[0].offset];
            dst[3] = alpha ? src[c[3].offset] : 255;
            std::memset(dst + 4, 0, job.pixelStride - 4);
        }
    }
}

// ---- InterleaveVuya ----
void vuyaRows(const KernelJob& job, int32_t begin, int32_t end) {
    const AVFrame& f = *job.frame;
    const int32_t shiftY = job.descriptor->log2_chroma_h;
    const bool alpha = hasAlphaPlane(job);
    for (int32_t y = begin; y < end; ++y) {
        const int32_t cy = y >> shiftY;
        job.table->interleaveVuya(sourceRow(f, 0, y), sourceRow(f, 1, cy), sourceRow(f, 2, cy),
                                  alpha ? sourceRow(f, 3, y) : nullptr, job.width,
                                  job.descriptor->log2_chroma_w, destinationRow(job, y, false));
    }
}

// ---- PackV210 ----
void v210Rows(const KernelJob& job, int32_t begin, int32_t end) {
    const AVFrame& f = *job.frame;
    for (int32_t y = begin; y < end; ++y) {
        job.table->packV210(reinterpret_cast<const uint16_t*>(sourceRow(f, 0, y)),
                            reinterpret_cast<const uint16_t*>(sourceRow(f, 1, y)),
                            reinterpret_cast<const uint16_t*>(sourceRow(f, 2, y)), job.width,
                            destinationRow(job, y, false));
    }
}

// ---- Scale16u ----
void scale16uRows(const KernelJob& job, int32_t begin, int32_t end) {
    const AVComponentDescriptor* c = job.descriptor->comp;
    const bool be = (job.descriptor->flags & AV_PIX_FMT_FLAG_BE) != 0;
    const bool alpha = job.descriptor->nb_components >= 4;
    const int32_t step = c[0].step;
    const int32_t strideBytes = 2 * job.pixelStride;
    for (int32_t y = begin; y < end; ++y) {
        const uint8_t* src = sourceRow(*job.frame, 0, y);
        uint8_t* dst = destinationRow(job, y, true);
        for (int32_t x = 0; x < job.width; ++x, src += step, dst += strideBytes) {
            store16(dst, scaleToWhitePoint(load16(src + c[2].offset, be)));
            store16(dst + 2, scaleToWhitePoint(load16(src + c[1].offset, be)));
            store16(dst + 4, scaleToWhitePoint(load16(src + c[0].offset, be)));
            store16(dst + 6, alpha ? scaleToWhitePoint(load16(src + c[3].offset, be)) : 32768);
            std::memset(dst + 8, 0, strideBytes - 8);
        }
    }
}

// ---- FloatNormalize ----
struct SampleReader {
    const AVComponentDescriptor* c;
    bool wide;  // 16-bit samples
    bool be;
    uint32_t mask;
    uint32_t operator()(const uint8_t* row, int component, int32_t index) const {
        const uint8_t* p =
            row + static_cast<int64_t>(index) * c[component].step + c[component].offset;
        const uint32_t raw = wide ? load16(p, be) : *p;
        return (raw >> c[component].shift) & mask;
    }
};

SampleReader readerOf(const KernelJob& job) {
    const int32_t depth = depthOf(*job.descriptor);
    return {job.descriptor->comp, depth > 8, (job.descriptor->flags & AV_PIX_FMT_FLAG_BE) != 0,
            maskOf(depth)};
}

// Planar YUV in plain 16-bit words (the high-bit-depth layouts, and the
// 16-bit picture libswscale makes for a Swscale plan): straight loads and
// multiplies by the scale, the same values as the general rows within a
// rounding step.
void normalizePlanar16Rows(const KernelJob& job, int32_t begin, int32_t end) {
    const AVFrame& f = *job.frame;
    const AVPixFmtDescriptor& d = *job.descriptor;
    const YuvToFloatCoefficients& k = job.coefficients;
    const float yScale = 1.0f / k.yDivisor, yBias = -k.yOffset * yScale;
    const float cScale = 1.0f / k.cDivisor, cBias = 0.5f - k.cOffset * cScale;
    const auto mask = static_cast<uint16_t>(maskOf(depthOf(d)));
    const float aScale = 1.0f / static_cast<float>(mask);
    const bool alpha = hasAlphaPlane(job);
    const int32_t shiftX = d.log2_chroma_w;
    const int32_t stride = job.pixelStride;
    const auto row16 = [&](int plane, int32_t r) {
        return reinterpret_cast<const uint16_t*>(sourceRow(f, plane, r));
    };
    for (int32_t y = begin; y < end; ++y) {
        const int32_t cy = y >> d.log2_chroma_h;
        const uint16_t* luma = row16(0, y);
        const uint16_t* u = row16(1, cy);
        const uint16_t* v = row16(2, cy);
        const uint16_t* a = alpha ? row16(3, y) : nullptr;
        auto* out = reinterpret_cast<float*>(destinationRow(job, y, false));
        for (int32_t x = 0; x < job.width; ++x, out += stride) {
            const int32_t cx = x >> shiftX;
            out[0] = static_cast<float>(v[cx] & mask) * cScale + cBias;
            out[1] = static_cast<float>(u[cx] & mask) * cScale + cBias;
            out[2] = static_cast<float>(luma[x] & mask) * yScale + yBias;
            out[3] = a ? static_cast<float>(a[x] & mask) * aScale : 1.0f;
            for (int32_t i = 4; i < stride; ++i) {
                out[i] = 0.0f;
            }
        }
    }
}

void normalizeRows(const KernelJob& job, int32_t begin, int32_t end) {
    if (job.words16) {
        return normalizePlanar16Rows(job, begin, end);
    }
    const AVFrame& f = *job.frame;
    const AVPixFmtDescriptor& d = *job.descriptor;
    const SampleReader read = readerOf(job);
    const float m = static_cast<float>(read.mask);
    // Float YUV is full range whatever the source's range: luma 0..1,
    // chroma centred on 0.5, by the clip's described range.
    const YuvToFloatCoefficients& k = job.coefficients;
    const bool yuv = (d.flags & AV_PIX_FMT_FLAG_RGB) == 0;
    const auto luma = [&](uint32_t v) {
        return yuv ? (static_cast<float>(v) - k.yOffset) / k.yDivisor : static_cast<float>(v) / m;
    };
    const auto chroma = [&](uint32_t v) {
        return yuv ? 0.5f + (static_cast<float>(v) - k.cOffset) / k.cDivisor
                   : static_cast<float>(v) / m;
    };
    const int32_t strideBytes = 4 * job.pixelStride;
    const bool alpha = hasAlphaPlane(job);
    for (int32_t y = begin; y < end; ++y) {
        const bool bottomUp = job.shape == NormalizeShape::PackedRgb && !yuv;
        uint8_t* dst = destinationRow(job, y, bottomUp);
        const uint8_t* lumaRow = sourceRow(f, 0, y);
        const int32_t cy = y >> d.log2_chroma_h;
        for (int32_t x = 0; x < job.width; ++x, dst += strideBytes) {
            const int32_t cx = x >> d.log2_chroma_w;
            switch (job.shape) {
                case NormalizeShape::PlanarYuv:
                    storeFloats(dst, chroma(read(sourceRow(f, 2, cy), 2, cx)),
                                chroma(read(sourceRow(f, 1, cy), 1, cx)), luma(read(lumaRow, 0, x)),
                                alpha ? read(sourceRow(f, 3, y), 3, x) / m : 1.0f);
                    break;
                case NormalizeShape::SemiPlanarYuv: {
                    const uint8_t* pairs = sourceRow(f, 1, cy);
                    storeFloats(dst, chroma(read(pairs, 2, cx)), chroma(read(pairs, 1, cx)),
                                luma(read(lumaRow, 0, x)), 1.0f);
                    break;
                }
                case NormalizeShape::Luma: {
                    float value = 0.0f;
                    if ((d.flags & AV_PIX_FMT_FLAG_FLOAT) != 0) {
                        std::memcpy(&value,
                                    lumaRow + int64_t{x} * d.comp[0].step + d.comp[0].offset, 4);
                    } else {
                        value = luma(read(lumaRow, 0, x));
                    }
                    storeFloats(dst, 0.5f, 0.5f, value, 1.0f);
                    break;
                }
                case NormalizeShape::PackedRgb: {
                    const uint8_t* p[4];
                    for (int i = 0; i < 4; ++i) {
                        p[i] = i < d.nb_components ? sourceRow(f, d.comp[i].plane, y) : nullptr;
                    }
                    const float a = d.nb_components >= 4 ? read(p[3], 3, x) / m : 1.0f;
                    if (yuv) {
                        // Packed YUV: its chroma is indexed per pair.
                        storeFloats(dst, chroma(read(p[2], 2, cx)), chroma(read(p[1], 1, cx)),
                                    luma(read(p[0], 0, x)), a);
                    } else {
                        storeFloats(dst, read(p[2], 2, x) / m, read(p[1], 1, x) / m,
                                    read(p[0], 0, x) / m, a);
                    }
                    break;
                }
            }
            std::memset(dst + 16, 0, strideBytes - 16);
        }
    }
}

bool prepareNormalize(KernelJob& job) {
    const AVPixFmtDescriptor& d = *job.descriptor;
    const AVFrame& f = *job.frame;
    const bool chroma1 = f.data[1] != nullptr && f.linesize[1] != 0;
    const bool chroma2 = f.data[2] != nullptr && f.linesize[2] != 0;
    if (d.nb_components >= 3 && (d.flags & AV_PIX_FMT_FLAG_PLANAR) != 0 && chroma1 && chroma2) {
        job.shape = NormalizeShape::PlanarYuv;
        job.alignment = 1 << d.log2_chroma_h;
    } else if (d.nb_components >= 3 && chroma1 && !chroma2) {
        job.shape = NormalizeShape::SemiPlanarYuv;
        job.alignment = 2;
    } else if (d.nb_components == 1) {
        job.shape = NormalizeShape::Luma;
        job.alignment = 1;
    } else {
        // Luma with alpha has no third component to read.
        if (d.nb_components < 3) {
            return false;
        }
        job.shape = NormalizeShape::PackedRgb;
        job.alignment = 1;
        // Every component is read from its own plane.
        for (int i = 0; i < std::min<int>(d.nb_components, 4); ++i) {
            if (f.data[d.comp[i].plane] == nullptr) {
                return false;
            }
        }
    }
    job.coefficients = matrixCoefficients(job.matrix, job.fullRange, depthOf(d));
    job.words16 = job.shape == NormalizeShape::PlanarYuv && (d.flags & AV_PIX_FMT_FLAG_RGB) == 0 &&
                  plainWords16(d);
    job.pixelStride = strideFrom(job, 4, 4);
    return job.pixelStride > 0;
}

// ---- MatrixToRgbFloat ----
// 8-bit samples take 256 values, so their scaled values are computed once,
// by the same formula as per pixel. Pixels are built in a small block and
// copied out, which lets a large picture be written with streaming stores.
struct ScaledSamples8 {
    explicit ScaledSamples8(const YuvToFloatCoefficients& k) {
        for (int v = 0; v < 256; ++v) {
            luma[v] = (static_cast<float>(v) - k.yOffset) / k.yDivisor;
            chroma[v] = (static_cast<float>(v) - k.cOffset) / k.cDivisor;
        }
    }
    float luma[256];
    float chroma[256];
};

// 8-bit rows: planar chroma, or NV12-style pairs at the format's offsets.
void matrixRows8(const KernelJob& job, int32_t begin, int32_t end) {
    const AVFrame& f = *job.frame;
    const AVPixFmtDescriptor& d = *job.descriptor;
    const YuvToFloatCoefficients k = job.coefficients;
    const ScaledSamples8 scaled(k);
    const bool planarChroma = f.data[2] != nullptr;
    const int32_t step = planarChroma ? 1 : 2;
    constexpr int32_t kBlock = 128;
    constexpr int64_t kPixelBytes = 4 * sizeof(float);
    float block[4 * kBlock];
    const RowCopy copy(int64_t{end - begin} * job.width * kPixelBytes);
    for (int32_t y = begin; y < end; ++y) {
        const int32_t cy = y >> d.log2_chroma_h;
        uint8_t* dst = destinationRow(job, y, true);
        const uint8_t* luma = sourceRow(f, 0, y);
        const uint8_t* cbRow =
            planarChroma ? sourceRow(f, 1, cy) : sourceRow(f, 1, cy) + d.comp[1].offset;
        const uint8_t* crRow =
            planarChroma ? sourceRow(f, 2, cy) : sourceRow(f, 1, cy) + d.comp[2].offset;
        for (int32_t first = 0; first < job.width; first += kBlock) {
            const int32_t n = std::min(kBlock, job.width - first);
            for (int32_t i = 0; i < n; ++i) {
                const int32_t x = first + i;
                const int64_t c = int64_t{x >> d.log2_chroma_w} * step;
                const float yv = scaled.luma[luma[x]];
                const float cb = scaled.chroma[cbRow[c]];
                const float cr = scaled.chroma[crRow[c]];
                float* out = block + 4 * i;
                out[0] = yv + k.cbToB * cb;
                out[1] = yv + k.cbToG * cb + k.crToG * cr;
                out[2] = yv + k.crToR * cr;
                out[3] = 1.0f;
            }
            copy(dst + first * kPixelBytes, reinterpret_cast<const uint8_t*>(block),
                 n * kPixelBytes);
        }
    }
}

void matrixRows(const KernelJob& job, int32_t begin, int32_t end) {
    if (job.genericMatrix) {
        return genericMatrixRows(job, begin, end);
    }
    const AVFrame& f = *job.frame;
    const AVPixFmtDescriptor& d = *job.descriptor;
    const int32_t depth = depthOf(d);
    if (depth <= 8) {
        return matrixRows8(job, begin, end);
    }
    const bool alpha = hasAlphaPlane(job);
    const auto row16 = [&](int plane, int32_t r) {
        return reinterpret_cast<const uint16_t*>(sourceRow(f, plane, r));
    };
    for (int32_t y = begin; y < end; ++y) {
        const int32_t cy = y >> d.log2_chroma_h;
        const YuvRow16 row{row16(0, y),
                           row16(1, cy),
                           row16(2, cy),
                           alpha ? row16(3, y) : nullptr,
                           job.width,
                           d.log2_chroma_w,
                           static_cast<uint16_t>(maskOf(depth))};
        job.table->yuvToRgbFloat(row, job.coefficients,
                                 reinterpret_cast<float*>(destinationRow(job, y, true)));
    }
}

bool prepareMatrix(KernelJob& job) {
    const AVPixFmtDescriptor& d = *job.descriptor;
    const AVFrame& f = *job.frame;
    const int32_t depth = depthOf(d);
    const PlaneLayout layout = layoutOfDescriptor(&d);
    const bool fast = !layout.rgb && !layout.isFloat && d.nb_components >= 3 &&
                      ((layout.planeCount >= 3 && !layout.semiPlanar) ||
                       (layout.semiPlanar && layout.depth == 8));
    if (fast && (f.data[1] == nullptr || (depth > 8 && f.data[2] == nullptr))) {
        return false;
    }
    if (!fast && !genericMatrixSupported(d)) {
        return false;
    }
    job.genericMatrix = !fast;
    job.coefficients = matrixCoefficients(job.matrix, job.fullRange, depth);
    job.alignment = 1 << d.log2_chroma_h;
    return 16 * int64_t{job.width} <= std::abs(job.rowBytes);
}

// ---- PlanarRgbFloat ----
void planarFloatRows(const KernelJob& job, int32_t begin, int32_t end) {
    const AVFrame& f = *job.frame;
    const bool alpha = f.data[3] != nullptr && f.linesize[3] != 0;
    const int32_t strideBytes = 4 * job.pixelStride;
    const float one = 1.0f;
    for (int32_t y = begin; y < end; ++y) {
        const uint8_t* g = sourceRow(f, 0, y);
        const uint8_t* b = sourceRow(f, 1, y);
        const uint8_t* r = sourceRow(f, 2, y);
        const uint8_t* a = alpha ? sourceRow(f, 3, y) : nullptr;
        uint8_t* dst = destinationRow(job, y, true);
        for (int32_t x = 0; x < job.width; ++x, dst += strideBytes) {
            const int64_t at = int64_t{x} * 4;
            std::memcpy(dst, b + at, 4);
            std::memcpy(dst + 4, g + at, 4);
            std::memcpy(dst + 8, r + at, 4);
            std::memcpy(dst + 12, a ? a + at : reinterpret_cast<const uint8_t*>(&one), 4);
            std::memset(dst + 16, 0, strideBytes - 16);
        }
    }
}

// ---- Pack10Rgb ----
// One little-endian 32-bit word per pixel: blue in bits 0-9, green in
// 10-19, red in 20-29; other depths are rescaled to 10 bits.
void pack10RgbRows(const KernelJob& job, int32_t begin, int32_t end) {
    const AVFrame& f = *job.frame;
    const AVComponentDescriptor* c = job.descriptor->comp;
    if (job.words16 && c[0].depth == 10) {
        // Planar 10-bit RGB: the samples go into the word as they are.
        for (int32_t y = begin; y < end; ++y) {
            const auto* r = reinterpret_cast<const uint16_t*>(sourceRow(f, c[0].plane, y));
            const auto* g = reinterpret_cast<const uint16_t*>(sourceRow(f, c[1].plane, y));
            const auto* b = reinterpret_cast<const uint16_t*>(sourceRow(f, c[2].plane, y));
            auto* dst = reinterpret_cast<uint32_t*>(destinationRow(job, y, true));
            for (int32_t x = 0; x < job.width; ++x) {
                const uint32_t word = (b[x] & 1023u) | (g[x] & 1023u) << 10 | (r[x] & 1023u) << 20;
                std::memcpy(dst + x, &word, 4);
            }
        }
        return;
    }
    const SampleReader read = readerOf(job);
    const uint32_t max = read.mask;
    const auto to10 = [max](uint32_t v) { return max == 1023 ? v : (v * 1023 + max / 2) / max; };
    for (int32_t y = begin; y < end; ++y) {
        const uint8_t* r = sourceRow(f, c[0].plane, y);
        const uint8_t* g = sourceRow(f, c[1].plane, y);
        const uint8_t* b = sourceRow(f, c[2].plane, y);
        uint8_t* dst = destinationRow(job, y, true);
        for (int32_t x = 0; x < job.width; ++x) {
            const uint32_t word =
                to10(read(b, 2, x)) | to10(read(g, 1, x)) << 10 | to10(read(r, 0, x)) << 20;
            std::memcpy(dst + 4 * int64_t{x}, &word, 4);
        }
    }
}

bool preparePack10Rgb(KernelJob& job) {
    const AVPixFmtDescriptor& d = *job.descriptor;
    const bool integerRgb = (d.flags & AV_PIX_FMT_FLAG_RGB) != 0 &&
                            (d.flags & (AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_BE)) == 0 &&
                            d.nb_components >= 3 && d.comp[0].depth <= 16;
    if (!integerRgb) {
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        if (job.frame->data[d.comp[i].plane] == nullptr) {
            return false;
        }
    }
    job.alignment = 1;
    job.words16 = plainWords16(d) && (d.flags & AV_PIX_FMT_FLAG_PLANAR) != 0;
    return 4 * int64_t{job.width} <= std::abs(job.rowBytes);
}

// ---- InterleaveBiplanar ----
void interleaveBiplanar(const KernelJob& job) {
    const AVFrame& f = *job.frame;
    const bool wide = depthOf(*job.descriptor) > 8;
    uint8_t* chroma = job.out + int64_t{job.destinationHeight} * job.rowBytes;
    for (int32_t y = 0; y < job.height; ++y) {
        const uint8_t* src = sourceRow(f, 0, y);
        uint8_t* dst = destinationRow(job, y, false);
        if (wide) {
            highBitsRow(src, job.width, dst);
        } else {
            std::memcpy(dst, src, job.width);
        }
    }
    for (int32_t cy = 0; cy < (job.height + 1) / 2; ++cy) {
        interleaveChromaRow(sourceRow(f, 1, cy), sourceRow(f, 2, cy), (job.width + 1) / 2, wide,
                            chroma + int64_t{cy} * job.rowBytes);
    }
}

}  // namespace

YuvToFloatCoefficients matrixCoefficients(int32_t colorSpace, bool fullRange, int32_t depth) {
    YuvToFloatCoefficients k{};
    if (colorSpace == AVCOL_SPC_BT470BG || colorSpace == AVCOL_SPC_SMPTE170M) {
        k.crToR = 1.402f, k.cbToG = -0.344136f, k.crToG = -0.714136f, k.cbToB = 1.772f;
    } else if (colorSpace == AVCOL_SPC_BT2020_NCL) {
        k.crToR = 1.4746f, k.cbToG = -0.1646f, k.crToG = -0.5714f, k.cbToB = 1.8814f;
    } else {
        k.crToR = 1.5748f, k.cbToG = -0.1873f, k.crToG = -0.4681f, k.cbToB = 1.8556f;
    }
    const int32_t d = std::clamp(depth, 8, 16);
    const float s = static_cast<float>(1 << (d - 8));
    const float m = static_cast<float>((1 << d) - 1);
    k.cOffset = static_cast<float>(1 << (d - 1));
    k.alphaDivisor = m;
    if (fullRange) {
        k.yOffset = 0.0f, k.yDivisor = m, k.cDivisor = m;
    } else {
        k.yOffset = 16.0f * s, k.yDivisor = 219.0f * s, k.cDivisor = 224.0f * s;
    }
    return k;
}

bool prepareKernelJob(KernelJob& job) {
    const AVFrame& f = *job.frame;
    const int64_t row = std::abs(job.rowBytes);
    if (job.out == nullptr || row < 1 || job.width < 0 || job.height < 0) {
        return false;
    }
    switch (job.kind) {
        case ConversionKind::PlaneCopy:
        case ConversionKind::PackedCopy:
            return true;
        default:
            break;
    }
    if (job.descriptor == nullptr) {
        return false;
    }
    const AVPixFmtDescriptor& d = *job.descriptor;
    switch (job.kind) {
        case ConversionKind::Shuffle:
            job.pixelStride = strideFrom(job, 1, 4);
            return d.nb_components >= 3 && d.log2_chroma_w == 0 && job.pixelStride > 0;
        case ConversionKind::InterleaveVuya:
            job.alignment = 1 << d.log2_chroma_h;
            return d.log2_chroma_w < 2 && f.data[1] && f.data[2] && 4 * int64_t{job.width} <= row;
        case ConversionKind::PackV210:
            job.alignment = 1;
            return f.data[1] && f.data[2] && (int64_t{job.width} + 5) / 6 * 16 <= row;
        case ConversionKind::Scale16u:
            job.alignment = 1;
            job.pixelStride = strideFrom(job, 2, 4);
            return d.nb_components >= 3 && d.log2_chroma_w == 0 && job.pixelStride > 0;
        case ConversionKind::FloatNormalize:
            return prepareNormalize(job);
        case ConversionKind::MatrixToRgbFloat:
            return prepareMatrix(job);
        case ConversionKind::PlanarRgbFloat:
            job.alignment = 1;
            job.pixelStride = strideFrom(job, 4, 4);
            return f.data[0] && f.data[1] && f.data[2] && job.pixelStride > 0;
        case ConversionKind::InterleaveBiplanar:
            return f.data[1] && f.data[2] &&
                   (int64_t{job.width} + 1) / 2 * 2 * (depthOf(d) > 8 ? 2 : 1) <= row;
        case ConversionKind::Pack10Rgb:
            return preparePack10Rgb(job);
        default:
            return false;
    }
}

void runKernelRows(const KernelJob& job, int32_t begin, int32_t end) {
    switch (job.kind) {
        case ConversionKind::PlaneCopy:
            return copyRows(job, begin, end, true);
        case ConversionKind::PackedCopy:
            return copyRows(job, begin, end, false);
        case ConversionKind::Shuffle:
            return shuffleRows(job, begin, end);
        case ConversionKind::InterleaveVuya:
            return vuyaRows(job, begin, end);
        case ConversionKind::PackV210:
            return v210Rows(job, begin, end);
        case ConversionKind::Scale16u:
            return scale16uRows(job, begin, end);
        case ConversionKind::FloatNormalize:
            return normalizeRows(job, begin, end);
        case ConversionKind::MatrixToRgbFloat:
            return matrixRows(job, begin, end);
        case ConversionKind::PlanarRgbFloat:
            return planarFloatRows(job, begin, end);
        case ConversionKind::InterleaveBiplanar:
            return interleaveBiplanar(job);
        case ConversionKind::Pack10Rgb:
            return pack10RgbRows(job, begin, end);
        default:
            return;
    }
}

}  // namespace kestrova
