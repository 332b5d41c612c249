#include "pixels/plane_layout.h"

#include <algorithm>

#include "ffmpeg/ffmpeg_runtime.h"

namespace kestrova {

const AVPixFmtDescriptor* pixelFormatDescriptor(int32_t pixelFormat) {
    const auto& runtime = ffmpeg::FfmpegRuntime::instance();
    if (!runtime.available() || pixelFormat < 0) {
        return nullptr;
    }
    return runtime.fn().av_pix_fmt_desc_get(static_cast<AVPixelFormat>(pixelFormat));
}

int32_t planeCountOf(const AVPixFmtDescriptor& d) {
    int32_t planes = 0;
    for (int i = 0; i < std::min<int>(d.nb_components, 4); ++i) {
        planes = std::max(planes, d.comp[i].plane + 1);
    }
    return planes;
}

PlaneLayout layoutOfFfmpegFormat(int32_t pixelFormat) {
    return layoutOfDescriptor(pixelFormatDescriptor(pixelFormat));
}

PlaneLayout layoutOfDescriptor(const AVPixFmtDescriptor* d) {
    constexpr uint64_t kUnusable =
        AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL;
    if (d == nullptr || d->nb_components == 0 || (d->flags & kUnusable) != 0) {
        return {};
    }
    const int components = std::min<int>(d->nb_components, 4);
    const int32_t planes = planeCountOf(*d);
    if (planes > 8) {
        return {};
    }
    PlaneLayout layout;
    layout.planeCount = planes;
    layout.chromaShiftX = d->log2_chroma_w;
    layout.chromaShiftY = d->log2_chroma_h;
    layout.depth = d->comp[0].depth;
    layout.highBits = d->comp[0].shift != 0;
    layout.alpha = (d->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
    layout.rgb = (d->flags & AV_PIX_FMT_FLAG_RGB) != 0;
    layout.isFloat = (d->flags & AV_PIX_FMT_FLAG_FLOAT) != 0;
    if (!layout.rgb) {
        const bool allInPlaneZero = planes == 1;
        if (!allInPlaneZero) {
            if (components < 3) {
                return {};
            }
            const AVComponentDescriptor& u = d->comp[1];
            const AVComponentDescriptor& v = d->comp[2];
            if (u.plane == v.plane) {
                if (u.offset == v.offset) {
                    return {};
                }
                layout.semiPlanar = true;
                layout.vBeforeU = v.offset < u.offset;
            } else {
                layout.vBeforeU = v.plane < u.plane;
            }
        }
    } else if (components >= 3 && planes >= 2) {
        layout.vBeforeU = d->comp[2].plane < d->comp[1].plane;
    }
    layout.valid = true;
    return layout;
}

ChromaClass chromaClassOf(int32_t pixelFormat) {
    const AVPixFmtDescriptor* d = pixelFormatDescriptor(pixelFormat);
    if (d == nullptr) {
        return ChromaClass::Unknown;
    }
    if ((d->flags & AV_PIX_FMT_FLAG_RGB) != 0) {
        return ChromaClass::Rgb;
    }
    const int colourComponents = d->nb_components - ((d->flags & AV_PIX_FMT_FLAG_ALPHA) ? 1 : 0);
    if (colourComponents < 2) {
        return ChromaClass::Mono;
    }
    if (d->log2_chroma_w == 1 && d->log2_chroma_h == 1) {
        return ChromaClass::Yuv420;
    }
    if (d->log2_chroma_w == 1 && d->log2_chroma_h == 0) {
        return ChromaClass::Yuv422;
    }
    if (d->log2_chroma_w == 0 && d->log2_chroma_h == 0) {
        return ChromaClass::Yuv444;
    }
    return ChromaClass::Unknown;
}

}  // namespace kestrova
