#include "video/hw_devices.h"

#include "ffmpeg/ffmpeg_runtime.h"

namespace kestrova {

std::string avErrorText(int code) {
    return avErrorText(ffmpeg::FfmpegRuntime::instance(), code);
}

std::string avErrorText(const ffmpeg::FfmpegRuntime& runtime, int code) {
    if (!runtime.available()) {
        return "av error " + std::to_string(code);
    }
    char buffer[256] = {};
    if (runtime.fn().av_strerror(code, buffer, sizeof buffer) < 0) {
        return "unknown av error " + std::to_string(code);
    }
    return std::string(buffer) + " (" + std::to_string(code) + ")";
}

}  // namespace kestrova
