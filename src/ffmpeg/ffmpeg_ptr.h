// Owning handles for FFmpeg objects. Each releases its object through the
// bound function table, so nothing here links FFmpeg.
#pragma once

#include <memory>

#include "ffmpeg/ffmpeg_runtime.h"

namespace kestrova::ffmpeg {

struct FormatContextDeleter {
    void operator()(AVFormatContext* context) const {
        if (FfmpegRuntime::instance().available()) {
            FfmpegRuntime::instance().fn().avformat_close_input(&context);
        }
    }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const {
        if (FfmpegRuntime::instance().available()) {
            FfmpegRuntime::instance().fn().avcodec_free_context(&context);
        }
    }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const {
        if (FfmpegRuntime::instance().available()) {
            FfmpegRuntime::instance().fn().av_frame_free(&frame);
        }
    }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const {
        if (FfmpegRuntime::instance().available()) {
            FfmpegRuntime::instance().fn().av_packet_free(&packet);
        }
    }
};
struct BufferRefDeleter {
    void operator()(AVBufferRef* buffer) const {
        if (FfmpegRuntime::instance().available()) {
            FfmpegRuntime::instance().fn().av_buffer_unref(&buffer);
        }
    }
};

using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using BufferRefPtr = std::unique_ptr<AVBufferRef, BufferRefDeleter>;

}  // namespace kestrova::ffmpeg
