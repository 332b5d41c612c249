// GPU decode devices reached through FFmpeg's hardware device contexts, and
// the FFmpeg error texts every message of the plug-in uses.
#pragma once

extern "C" {
#include <libavutil/hwcontext.h>
#include <libavutil/pixfmt.h>
}

#include <array>
#include <cstdint>
#include <string>

namespace kestrova {

namespace ffmpeg {
class FfmpegRuntime;
}

// A device type worth trying, with the pixel format its frames arrive in
// when the decoder's configuration does not say.
struct HwDeviceCandidate {
    const char* name;
    AVHWDeviceType type;
    AVPixelFormat defaultPixelFormat;
};

// Tried in this order.
inline constexpr std::array<HwDeviceCandidate, 5> kHwDeviceCandidates = {{
    {"cuda (nvdec)", AV_HWDEVICE_TYPE_CUDA, AV_PIX_FMT_CUDA},
    {"d3d11va", AV_HWDEVICE_TYPE_D3D11VA, AV_PIX_FMT_D3D11},
    {"qsv", AV_HWDEVICE_TYPE_QSV, AV_PIX_FMT_QSV},
    {"dxva2", AV_HWDEVICE_TYPE_DXVA2, AV_PIX_FMT_DXVA2_VLD},
    {"vulkan", AV_HWDEVICE_TYPE_VULKAN, AV_PIX_FMT_VULKAN},
}};

// The candidate's name for a device type, or null when it is no candidate.
constexpr const char* candidateDeviceName(int32_t deviceType) {
    for (const HwDeviceCandidate& candidate : kHwDeviceCandidates) {
        if (candidate.type == deviceType) {
            return candidate.name;
        }
    }
    return nullptr;
}

// "text (code)" for an FFmpeg error code, through the process-wide runtime.
[[nodiscard]] std::string avErrorText(int code);
// The same through the given runtime.
[[nodiscard]] std::string avErrorText(const ffmpeg::FfmpegRuntime& runtime, int code);

}  // namespace kestrova
