// The user's source settings for a clip: detected values shown in the
// dialog, overrides applied to the clip's description.
#include "host/clip_instance.h"
#include "host/clip_selectors.h"
#include "host/host_suites.h"
#include "host/summary_overrides.h"
#include "support/logger.h"

namespace kestrova::host {
namespace {

int32_t alphaCode(AlphaMode mode) {
    return mode == AlphaMode::Straight ? 1 : mode == AlphaMode::Premultiplied ? 2 : 0;
}

void writeDetected(ClipPrefs& prefs, const StreamSummary& s, const std::string& path) {
    auto& f = prefs.fields;
    f[ClipPrefs::kDetectedPrimaries] = s.primaries;
    f[ClipPrefs::kDetectedTransfer] = s.transfer;
    f[ClipPrefs::kDetectedMatrix] = s.matrix;
    f[ClipPrefs::kDetectedFullRange] = s.fullRange ? 1 : 0;
    f[ClipPrefs::kDetectedFieldOrder] = hostFieldCode(s.fieldOrder);
    f[ClipPrefs::kDetectedAspectNum] = s.aspectNum;
    f[ClipPrefs::kDetectedAspectDen] = s.aspectDen;
    f[ClipPrefs::kDetectedAlpha] = alphaCode(s.alphaMode);
    f[ClipPrefs::kDetectedPresent] = 1;
    Logger::log(LogLevel::Info,
                "imPerformSourceSettingsCommand: populated detected values for %s (pri=%d trc=%d "
                "mat=%d range=%d field=%d PAR=%u:%u alpha=%d)",
                path.c_str(), s.primaries, s.transfer, s.matrix, s.fullRange ? 1 : 0,
                hostFieldCode(s.fieldOrder), static_cast<unsigned>(s.aspectNum),
                static_cast<unsigned>(s.aspectDen), alphaCode(s.alphaMode));
}

// The summary again from the description, with the new overrides on top.
void rebuildSummary(ClipInstance& clip) {
    if (clip.reopen()) {
        clip.summary = summaryForStreams(clip.mainDemuxer, clip.mappedVideo, clip.mappedAudio);
        if (clip.prefs.hasOverrides()) {
            applyOverrides(clip.summary, clip.prefs);
        }
    }
    clip.plansBuilt = false;
    clip.planSelected = false;
}

}  // namespace

Result imPerformSourceSettingsCommandHandler(void* record) {
    using namespace settingsrec;
    LockedClip clip(record, kPrivateData);
    if (!clip) {
        return imUnsupported;
    }
    void* buffer = readField<void*>(record, kBuffer);
    const int32_t size = readField<int32_t>(record, kBufferSize);
    if (!buffer || size < kClipPrefsBytes) {
        Logger::log(LogLevel::Warning,
                    "imPerformSourceSettingsCommand: data size %d < %d or null buffer", size,
                    kClipPrefsBytes);
        return imFailure;
    }
    ClipPrefs incoming = ClipPrefs::read(buffer);
    if (incoming.fields[ClipPrefs::kVersion] != ClipPrefs::kCurrentVersion) {
        incoming = ClipPrefs::defaults();
        incoming.write(buffer);
        Logger::log(LogLevel::Warning,
                    "imPerformSourceSettingsCommand: migrated prefs from unknown version");
    }
    const ClipPrefs previous = clip->prefsStored ? clip->prefs : ClipPrefs::defaults();
    if (incoming.fields[ClipPrefs::kDetectedPresent] == 0) {
        if (!clip->summaryBuilt) {
            if (!clip->reopen()) {
                Logger::log(LogLevel::Error,
                            "imPerformSourceSettingsCommand: cannot open source for %s",
                            clip->path.c_str());
                return imFailure;
            }
            (void)clip->describeVideo();
        }
        writeDetected(incoming, clip->summary, clip->path);
        incoming.write(buffer);
    }
    clip->prefs = incoming;
    clip->prefsStored = true;
    if (clip->summaryBuilt) {
        rebuildSummary(*clip);
    } else {
        clip->plansBuilt = false;
        clip->planSelected = false;
    }
    if (!overridesDiffer(previous, incoming)) {
        return imNoErr;
    }
    Logger::log(LogLevel::Info,
                "imPerformSourceSettingsCommand: override changed for %s, requesting refresh",
                clip->path.c_str());
    refreshFileAsync(clip->path);
    return imNoErr;
}

}  // namespace kestrova::host
