#include "video/decode_path_measurement.h"

#include "containers/clip_description.h"
#include "platform/platform.h"
#include "video/video_decoder.h"

namespace kestrova {
namespace {

constexpr int64_t kTimedFrames = 8;

DecodePathMeasurement failed(DecodePathMeasurement result, std::string detail) {
    result.msPerFrame = -1;
    result.detail = std::move(detail);
    return result;
}

}  // namespace

DecodePathMeasurement measureDecodePath(const std::string& mediaPath, int32_t streamIndex,
                                        bool useHardware, int32_t deviceType) {
    DecodePathMeasurement result;
    ClipDescription demuxer;
    const ProbeResult probe = demuxer.probe(mediaPath);
    if (probe.status != ProbeStatus::Ok) {
        return failed(result, probe.detail);
    }
    VideoDecoder decoder;
    if (!decoder.open(demuxer, streamIndex, 0, useHardware, deviceType, ThreadRole::Foreground)) {
        return failed(result, "decoder open failed");
    }
    const HwDecodeState& hardware = decoder.hardware();
    if (useHardware && !hardware.active) {
        return failed(result,
                      hardware.fallenBack ? hardware.reason : "device or codec unsupported");
    }
    result.hardwareActive = hardware.active;
    if (decoder.frameAt(0).status != DecodeStatus::Ok) {
        return failed(result, "first frame did not decode");
    }

    double totalMs = 0;
    int64_t counted = 0;
    for (int64_t n = 1; n <= kTimedFrames; ++n) {
        const int64_t start = platform::monotonicNanos();
        const FrameResult frame = decoder.frameAt(n);
        if (frame.status != DecodeStatus::Ok) {
            break;
        }
        if (frame.repeatedLastGood || frame.black) {
            return failed(result, "decode produced a resilience frame, not real output");
        }
        const AVFrame* picture = decoder.currentFrame();
        if (picture == nullptr) {
            break;
        }
        result.pixelFormat = picture->format;
        totalMs += static_cast<double>(platform::monotonicNanos() - start) / 1e6;
        ++counted;
    }

    if (useHardware && !hardware.active) {
        return failed(result, hardware.reason.empty() ? "hardware deactivated during measurement"
                                                      : hardware.reason);
    }
    if (useHardware && !hardware.reason.empty()) {
        return failed(result, hardware.reason);
    }
    if (counted == 0) {
        return failed(result, "no frames decoded");
    }
    result.msPerFrame = totalMs / static_cast<double>(counted);
    return result;
}

}  // namespace kestrova
