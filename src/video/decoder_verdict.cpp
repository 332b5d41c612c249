#include "video/decoder_verdict.h"

#include "support/logger.h"

namespace kestrova {
namespace {

DecoderVerdict softwareVerdict(double softwareMs) {
    DecoderVerdict verdict;
    verdict.chosenMsPerFrame = softwareMs;
    verdict.softwareMsPerFrame = softwareMs;
    verdict.measured = true;
    return verdict;
}

DecoderVerdict hardwareVerdict(const BackendTiming& backend, double softwareMs) {
    DecoderVerdict verdict;
    verdict.useHardware = true;
    verdict.deviceType = backend.deviceType;
    verdict.deviceName = backend.name;
    verdict.chosenMsPerFrame = backend.msPerFrame;
    verdict.softwareMsPerFrame = softwareMs;
    verdict.measured = true;
    return verdict;
}

}  // namespace

DecoderVerdict decideVerdict(double softwareMs, std::span<const BackendTiming> backends,
                             bool forceHardware, const std::string& codecName) {
    const BackendTiming* best = nullptr;
    for (const BackendTiming& backend : backends) {
        if (backend.msPerFrame >= 0 && (best == nullptr || backend.msPerFrame < best->msPerFrame)) {
            best = &backend;
        }
    }
    const bool softwareWorked = softwareMs >= 0;
    if (softwareWorked && best == nullptr) {
        Logger::log(LogLevel::Info,
                    "decoder selection: using software -- no usable GPU decoder "
                    "for this codec on this machine");
        return softwareVerdict(softwareMs);
    }
    if (softwareWorked && best->msPerFrame <= kHardwareTolerance * softwareMs) {
        Logger::log(LogLevel::Info, "decoder selection: using %s (%.2f ms/frame vs %.2f software)",
                    best->name.c_str(), best->msPerFrame, softwareMs);
        return hardwareVerdict(*best, softwareMs);
    }
    if (softwareWorked && !forceHardware) {
        Logger::log(
            LogLevel::Info,
            "decoder selection: using software -- the best GPU backend (%s) needed %.2f "
            "ms/frame against %.2f, beyond the %.2fx tolerance, because the readback into system "
            "memory costs more than it saves. NOTE this was measured on an idle machine with "
            "software holding a full thread grant; under real editing load software will not keep "
            "that advantage. Set forceHardwareDecoding=true in kestrova.prefs to use %s regardless",
            best->name.c_str(), best->msPerFrame, softwareMs, kHardwareTolerance,
            best->name.c_str());
        return softwareVerdict(softwareMs);
    }
    if (softwareWorked) {
        Logger::log(LogLevel::Info,
                    "decoder selection: using %s because forceHardwareDecoding is set (%.2f "
                    "ms/frame against %.2f software -- the probe preferred software, and is being "
                    "overridden deliberately)",
                    best->name.c_str(), best->msPerFrame, softwareMs);
        return hardwareVerdict(*best, softwareMs);
    }
    if (best != nullptr) {
        Logger::log(LogLevel::Info,
                    "decoder selection: using %s at %.2f ms/frame because software cannot decode "
                    "this stream at all -- hardware is not an optimisation here, it is the only "
                    "decode path",
                    best->name.c_str(), best->msPerFrame);
        return hardwareVerdict(*best, 0);
    }
    Logger::log(
        LogLevel::Warning,
        "decoder selection: NEITHER software NOR any GPU backend can decode %s on this "
        "machine with this FFmpeg build. For AV1 this means the build lacks libdav1d AND no "
        "GPU AV1 decode path was usable; rebuild the bundled FFmpeg with --enable-libdav1d",
        codecName.c_str());
    return {};
}

}  // namespace kestrova
