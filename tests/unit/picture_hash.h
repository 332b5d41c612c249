// A hash of the visible pixels of a decoded picture, for comparing what
// different decoders or request orders delivered.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ffmpeg/ffmpeg_runtime.h"

namespace kestrova::test {

// 64-bit FNV-1a of the visible area of every plane: rows of the plane's height, each as many
// bytes as the plane's width in samples times its sample step.
inline uint64_t hashPicture(const AVFrame* frame) {
    uint64_t hash = 0xcbf29ce484222325ULL;
    const auto add = [&hash](const uint8_t* bytes, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            hash = (hash ^ bytes[i]) * 0x100000001b3ULL;
        }
    };
    const AVPixFmtDescriptor* descriptor =
        frame == nullptr || frame->data[0] == nullptr
            ? nullptr
            : ffmpeg::FfmpegRuntime::instance().fn().av_pix_fmt_desc_get(
                  static_cast<AVPixelFormat>(frame->format));
    if (descriptor == nullptr || (descriptor->flags & AV_PIX_FMT_FLAG_HWACCEL) != 0) {
        return 0;
    }
    const auto& fn = ffmpeg::FfmpegRuntime::instance().fn();
    const auto format = static_cast<AVPixelFormat>(frame->format);
    for (int plane = 0; plane < 4 && frame->data[plane] != nullptr; ++plane) {
        // The visible bytes of a row, packed formats included; never the padding.
        const int bytes = fn.av_image_get_linesize(format, frame->width, plane);
        if (bytes <= 0) {
            break;
        }
        const int shiftH = plane == 1 || plane == 2 ? descriptor->log2_chroma_h : 0;
        const int rows = -((-frame->height) >> shiftH);
        for (int y = 0; y < rows; ++y) {
            add(frame->data[plane] + static_cast<std::ptrdiff_t>(y) * frame->linesize[plane],
                static_cast<std::size_t>(bytes));
        }
    }
    if ((descriptor->flags & AV_PIX_FMT_FLAG_PAL) != 0 && frame->data[1] != nullptr) {
        add(frame->data[1], 256 * 4);
    }
    return hash;
}

}  // namespace kestrova::test
