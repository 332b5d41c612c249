#include "video/hw_decode.h"

#include <array>

#include "ffmpeg/ffmpeg_runtime.h"
#include "support/logger.h"
#include "video/hw_devices.h"

namespace kestrova {
namespace {

struct NativeDecoder {
    AVCodecID codec;
    AVHWDeviceType type;
    const char* name;
};

// Decoders that are themselves bound to a device, in the order they are tried.
constexpr std::array<NativeDecoder, 8> kNativeDecoders = {{
    {AV_CODEC_ID_AV1, AV_HWDEVICE_TYPE_CUDA, "av1_cuvid"},
    {AV_CODEC_ID_AV1, AV_HWDEVICE_TYPE_QSV, "av1_qsv"},
    {AV_CODEC_ID_HEVC, AV_HWDEVICE_TYPE_CUDA, "hevc_cuvid"},
    {AV_CODEC_ID_HEVC, AV_HWDEVICE_TYPE_QSV, "hevc_qsv"},
    {AV_CODEC_ID_H264, AV_HWDEVICE_TYPE_CUDA, "h264_cuvid"},
    {AV_CODEC_ID_H264, AV_HWDEVICE_TYPE_QSV, "h264_qsv"},
    {AV_CODEC_ID_VP9, AV_HWDEVICE_TYPE_CUDA, "vp9_cuvid"},
    {AV_CODEC_ID_VP9, AV_HWDEVICE_TYPE_QSV, "vp9_qsv"},
}};

const char* codecText(const ffmpeg::FfmpegFunctions& fn, int32_t codecId) {
    const char* name = fn.avcodec_get_name(static_cast<AVCodecID>(codecId));
    return name != nullptr ? name : "?";
}

// The configuration through which `decoder` takes a device of `type`, or null.
const AVCodecHWConfig* deviceConfigFor(const ffmpeg::FfmpegFunctions& fn, const AVCodec* decoder,
                                       AVHWDeviceType type) {
    for (int k = 0;; ++k) {
        const AVCodecHWConfig* config = fn.avcodec_get_hw_config(decoder, k);
        if (config == nullptr) {
            return nullptr;
        }
        if ((config->methods & AV_CODEC_HW_CONFIG_METHOD_HW_DEVICE_CTX) != 0 &&
            config->device_type == type) {
            return config;
        }
    }
}

}  // namespace

const AVCodec* findHardwareNativeDecoder(int32_t codecId, int32_t deviceType) {
    const auto& runtime = ffmpeg::FfmpegRuntime::instance();
    if (!runtime.available()) {
        return nullptr;
    }
    if (deviceType == 0) {
        for (const HwDeviceCandidate& candidate : kHwDeviceCandidates) {
            if (const AVCodec* decoder = findHardwareNativeDecoder(codecId, candidate.type)) {
                return decoder;
            }
        }
        return nullptr;
    }
    const auto& fn = runtime.fn();
    for (const NativeDecoder& row : kNativeDecoders) {
        if (row.codec != codecId || row.type != deviceType) {
            continue;
        }
        if (const AVCodec* decoder = fn.avcodec_find_decoder_by_name(row.name)) {
            Logger::log(LogLevel::Info,
                        "HW decode: found hardware-native decoder '%s' for codec %s", row.name,
                        codecText(fn, codecId));
            return decoder;
        }
        Logger::log(LogLevel::Debug, "HW decode: '%s' not available in this FFmpeg build",
                    row.name);
    }
    return nullptr;
}

bool genericDecoderTakesDevice(int32_t codecId, int32_t deviceType) {
    const auto& runtime = ffmpeg::FfmpegRuntime::instance();
    if (!runtime.available()) {
        return false;
    }
    const auto& fn = runtime.fn();
    const AVCodec* decoder = fn.avcodec_find_decoder(static_cast<AVCodecID>(codecId));
    return decoder != nullptr &&
           deviceConfigFor(fn, decoder, static_cast<AVHWDeviceType>(deviceType)) != nullptr;
}

bool setupHardwareDevice(HwDecodeState& state, const AVCodec* decoder, int32_t deviceType) {
    const auto& runtime = ffmpeg::FfmpegRuntime::instance();
    if (decoder == nullptr || state.fallenBack || !runtime.available()) {
        return false;
    }
    const auto& fn = runtime.fn();
    const char* decoderName = decoder->name != nullptr ? decoder->name : "?";
    for (const HwDeviceCandidate& candidate : kHwDeviceCandidates) {
        if (deviceType != 0 && candidate.type != deviceType) {
            continue;
        }
        const AVCodecHWConfig* config = deviceConfigFor(fn, decoder, candidate.type);
        if (config == nullptr) {
            Logger::log(LogLevel::Debug, "HW decode: codec %s does not support %s", decoderName,
                        candidate.name);
            continue;
        }
        AVBufferRef* device = nullptr;
        const int result = fn.av_hwdevice_ctx_create(&device, candidate.type, nullptr, nullptr, 0);
        if (result < 0 || device == nullptr) {
            ffmpeg::BufferRefPtr discard(device);
            Logger::log(LogLevel::Debug, "HW decode: av_hwdevice_ctx_create(%s) failed: %s",
                        candidate.name, avErrorText(result).c_str());
            continue;
        }
        state.deviceRef.reset(device);
        state.deviceType = candidate.type;
        state.hwPixelFormat =
            config->pix_fmt != AV_PIX_FMT_NONE ? config->pix_fmt : candidate.defaultPixelFormat;
        state.active = true;
        const char* formatName =
            fn.av_get_pix_fmt_name(static_cast<AVPixelFormat>(state.hwPixelFormat));
        Logger::log(LogLevel::Info, "HW decode: using %s (pix_fmt=%s) for codec %s", candidate.name,
                    formatName != nullptr ? formatName : "?", decoderName);
        return true;
    }
    Logger::log(LogLevel::Debug, "HW decode: no suitable device found, will use software decoding");
    return false;
}

AVPixelFormat hwGetFormat(AVCodecContext* context, const AVPixelFormat* offered) {
    if (offered == nullptr) {
        return AV_PIX_FMT_NONE;
    }
    const auto* state =
        context != nullptr ? static_cast<const HwDecodeState*>(context->opaque) : nullptr;
    if (state != nullptr && state->active) {
        for (const AVPixelFormat* format = offered; *format != AV_PIX_FMT_NONE; ++format) {
            if (*format == state->hwPixelFormat) {
                return *format;
            }
        }
        Logger::log(LogLevel::Debug,
                    "HW decode: desired pix_fmt not in offered list, selecting SW format");
    }
    if (offered[0] == AV_PIX_FMT_NONE) {
        return AV_PIX_FMT_NONE;
    }
    const auto& runtime = ffmpeg::FfmpegRuntime::instance();
    if (runtime.available()) {
        for (const AVPixelFormat* format = offered; *format != AV_PIX_FMT_NONE; ++format) {
            const AVPixFmtDescriptor* descriptor = runtime.fn().av_pix_fmt_desc_get(*format);
            if (descriptor != nullptr && (descriptor->flags & AV_PIX_FMT_FLAG_HWACCEL) == 0) {
                return *format;
            }
        }
    }
    return offered[0];
}

void declareFallback(HwDecodeState& state, const std::string& reason) {
    if (state.fallenBack) {
        return;
    }
    state.active = false;
    state.fallenBack = true;
    state.reason = reason;
    state.deviceRef.reset();
    Logger::log(LogLevel::Warning, "HW decode fallback to software: %s", reason.c_str());
}

const char* deviceTypeName(int32_t deviceType) {
    const char* name = candidateDeviceName(deviceType);
    return name != nullptr ? name : "software";
}

const char* deviceTypeName(const HwDecodeState& state) {
    if (state.deviceRef == nullptr) {
        return "software";
    }
    return deviceTypeName(state.deviceType);
}

}  // namespace kestrova
