#include "video/decoder_selection.h"

#include <vector>

#include "ffmpeg/ffmpeg_runtime.h"
#include "support/logger.h"
#include "support/preferences.h"
#include "video/hw_decode.h"
#include "video/hw_devices.h"
#include "video/verdict_cache.h"

namespace kestrova {
namespace {

// Decodes the clip itself through private demuxers and decoders.
class ClipDecodeProbe final : public DecodePathProbe {
  public:
    ClipDecodeProbe(std::string path, int32_t streamIndex, int32_t codecId)
        : path_(std::move(path)), streamIndex_(streamIndex), codecId_(codecId) {}

    bool supports(int32_t deviceType) override {
        return findHardwareNativeDecoder(codecId_, deviceType) != nullptr ||
               genericDecoderTakesDevice(codecId_, deviceType);
    }
    DecodePathMeasurement measure(bool useHardware, int32_t deviceType) override {
        return measureDecodePath(path_, streamIndex_, useHardware, deviceType);
    }
    std::string pixelFormatName(int32_t pixelFormat) override {
        const auto& runtime = ffmpeg::FfmpegRuntime::instance();
        const char* name =
            runtime.available() && pixelFormat >= 0
                ? runtime.fn().av_get_pix_fmt_name(static_cast<AVPixelFormat>(pixelFormat))
                : nullptr;
        return name != nullptr ? name : "?";
    }

  private:
    const std::string path_;
    const int32_t streamIndex_;
    const int32_t codecId_;
};

const char* detailOr(const std::string& detail, const char* otherwise) {
    return detail.empty() ? otherwise : detail.c_str();
}

VerdictCache& processVerdicts() {
    static VerdictCache cache(appDataFilePath(kVerdictCacheFileName),
                              verdictIdentityLine(Preferences::get().forceHardwareDecoding,
                                                  ffmpeg::FfmpegRuntime::instance().fingerprint),
                              [](int32_t deviceType) { return candidateDeviceName(deviceType); });
    return cache;
}

}  // namespace

DecoderVerdict examineDecodePaths(const VerdictKey& key, const std::string& codecName,
                                  DecodePathProbe& probe, bool forceHardware) {
    const ScopedTimer timer("decoder selection examination", LogLevel::Info);
    const DecodePathMeasurement software = probe.measure(false, 0);
    if (software.msPerFrame >= 0) {
        Logger::log(LogLevel::Info,
                    "decoder selection for %dx%d %s: software %.2f ms/frame (control)", key.width,
                    key.height, codecName.c_str(), software.msPerFrame);
    } else {
        Logger::log(LogLevel::Warning,
                    "decoder selection for %dx%d %s: SOFTWARE CANNOT DECODE THIS STREAM (%s). This "
                    "build may have no software decoder for the codec - FFmpeg's built-in AV1 "
                    "decoder, for example, is hardware-only. Probing GPU backends anyway: if one "
                    "works it is the only way to decode this stream, not merely the faster one",
                    key.width, key.height, codecName.c_str(),
                    detailOr(software.detail, "no detail"));
    }

    std::vector<BackendTiming> backends;
    for (const HwDeviceCandidate& candidate : kHwDeviceCandidates) {
        if (!probe.supports(candidate.type)) {
            Logger::log(LogLevel::Info,
                        "decoder selection:   %-14s not supported for %s, skipped without opening "
                        "the file",
                        candidate.name, codecName.c_str());
            continue;
        }
        const DecodePathMeasurement measured = probe.measure(true, candidate.type);
        if (measured.msPerFrame < 0) {
            Logger::log(LogLevel::Info, "decoder selection:   %-14s unavailable (%s)",
                        candidate.name, detailOr(measured.detail, "unsupported"));
            continue;
        }
        // Without a software time there is nothing to compare against.
        const double ratio =
            software.msPerFrame > 0 ? measured.msPerFrame / software.msPerFrame : 0;
        Logger::log(LogLevel::Info,
                    "decoder selection:   %-14s %.2f ms/frame including readback (%.2fx "
                    "software), readback format %s",
                    candidate.name, measured.msPerFrame, ratio,
                    probe.pixelFormatName(measured.pixelFormat).c_str());
        backends.push_back({candidate.name, candidate.type, measured.msPerFrame});
    }
    return decideVerdict(software.msPerFrame, backends, forceHardware, codecName);
}

DecoderVerdict selectDecoder(const ClipDescription& description, const StreamInfo& stream) {
    VerdictCache& verdicts = processVerdicts();
    const VerdictKey key{stream.codecId, stream.width, stream.height};
    if (auto known = verdicts.find(key)) {
        return *known;
    }
    const auto& runtime = ffmpeg::FfmpegRuntime::instance();
    if (!runtime.available()) {
        return {};
    }
    const char* codecName = runtime.fn().avcodec_get_name(static_cast<AVCodecID>(stream.codecId));
    ClipDecodeProbe probe(description.path(), stream.index, stream.codecId);
    const DecoderVerdict verdict =
        examineDecodePaths(key, codecName != nullptr ? codecName : "?", probe,
                           Preferences::get().forceHardwareDecoding);
    verdicts.store(key, verdict);
    return verdict;
}

}  // namespace kestrova
