// MatrixToRgbFloat for the layouts its fast rows do not cover: grey, packed
// YUV, high-bit-depth semi-planar YUV and integer RGB. The safety-net plan
// promises float RGB for every source, so these read any component layout
// through FFmpeg's generic reader; slower, but never refused.
#include <algorithm>
#include <cstring>
#include <vector>

#include "ffmpeg/ffmpeg_runtime.h"
#include "pixels/conversion_kernels.h"
#include "pixels/plane_rows.h"

namespace kestrova {
namespace {

float readFloat(const AVFrame& f, const AVComponentDescriptor& c, int32_t x, int32_t row) {
    float value;
    std::memcpy(&value, sourceRow(f, c.plane, row) + int64_t{x} * c.step + c.offset, sizeof value);
    return value;
}

}  // namespace

bool genericMatrixSupported(const AVPixFmtDescriptor& d) {
    const bool isFloat = (d.flags & AV_PIX_FMT_FLAG_FLOAT) != 0;
    for (int c = 0; c < d.nb_components; ++c) {
        if (isFloat ? d.comp[c].depth != 32 : d.comp[c].depth < 1 || d.comp[c].depth > 16) {
            return false;
        }
    }
    return d.nb_components >= 1 && d.nb_components <= 4;
}

void genericMatrixRows(const KernelJob& job, int32_t begin, int32_t end) {
    const AVFrame& f = *job.frame;
    const AVPixFmtDescriptor& d = *job.descriptor;
    const auto& fn = ffmpeg::FfmpegRuntime::instance().fn();
    const YuvToFloatCoefficients& k = job.coefficients;
    const bool rgb = (d.flags & AV_PIX_FMT_FLAG_RGB) != 0;
    const bool isFloat = (d.flags & AV_PIX_FMT_FLAG_FLOAT) != 0;
    const bool alpha = (d.flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
    const int colours = d.nb_components - (alpha ? 1 : 0);
    const int alphaIndex = alpha ? d.nb_components - 1 : -1;
    // Kept per thread so a frame's ranges reuse them instead of allocating.
    thread_local std::vector<uint32_t> raw;
    thread_local std::vector<float> values[4];
    raw.resize(static_cast<std::size_t>(job.width));
    const uint8_t* data[4] = {f.data[0], f.data[1], f.data[2], f.data[3]};
    const int linesize[4] = {f.linesize[0], f.linesize[1], f.linesize[2], f.linesize[3]};
    for (int32_t y = begin; y < end; ++y) {
        for (int c = 0; c < d.nb_components; ++c) {
            const bool chroma = !rgb && colours >= 3 && (c == 1 || c == 2);
            const int32_t w = chroma ? -((-job.width) >> d.log2_chroma_w) : job.width;
            const int32_t row = chroma ? y >> d.log2_chroma_h : y;
            values[c].resize(static_cast<std::size_t>(w));
            if (isFloat) {
                for (int32_t x = 0; x < w; ++x) {
                    values[c][x] = readFloat(f, d.comp[c], x, row);
                }
                continue;
            }
            fn.av_read_image_line2(raw.data(), data, linesize, &d, 0, row, c, w, 0, 4);
            const bool luma = !rgb && c == 0;
            const float offset = chroma ? k.cOffset : luma ? k.yOffset : 0.0f;
            const float divisor = chroma ? k.cDivisor
                                  : luma ? k.yDivisor
                                         : static_cast<float>((1u << d.comp[c].depth) - 1u);
            for (int32_t x = 0; x < w; ++x) {
                values[c][x] = (static_cast<float>(raw[x]) - offset) / divisor;
            }
        }
        const int32_t row = job.height - 1 - y;  // bottom-up, as the fast rows
        auto* dst = reinterpret_cast<float*>(job.out + int64_t{row} * job.rowBytes);
        for (int32_t x = 0; x < job.width; ++x, dst += 4) {
            const float a = alphaIndex >= 0 ? values[alphaIndex][x] : 1.0f;
            float r, g, b;
            if (rgb) {
                r = values[0][x], g = values[1][x], b = values[2][x];
            } else if (colours >= 3) {
                const int32_t cx = x >> d.log2_chroma_w;
                const float yv = values[0][x], cb = values[1][cx], cr = values[2][cx];
                r = yv + k.crToR * cr;
                g = yv + k.cbToG * cb + k.crToG * cr;
                b = yv + k.cbToB * cb;
            } else {
                r = g = b = values[0][x];
            }
            const float pixel[4] = {b, g, r, a};
            std::memcpy(dst, pixel, sizeof pixel);
        }
    }
}

}  // namespace kestrova
