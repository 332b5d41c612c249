// Small helpers shared by the files of VideoDecoder.
#pragma once

#include "ffmpeg/ffmpeg_runtime.h"

namespace kestrova::decoding {

inline const ffmpeg::FfmpegRuntime& runtime() {
    return ffmpeg::FfmpegRuntime::instance();
}

inline bool holdsPicture(const AVFrame* frame) {
    return frame != nullptr && frame->data[0] != nullptr;
}

}  // namespace kestrova::decoding
