#include "async/async_create.h"

#include "async/async_entry.h"
#include "async/async_instance.h"
#include "host/clip_instance.h"
#include "host/clip_selectors.h"
#include "support/logger.h"
#include "support/preferences.h"
#include "video/decoder_selection.h"

namespace kestrova::async {
namespace {

using namespace host;

bool described(const ClipInstance& clip) {
    return clip.summaryBuilt && clip.plansBuilt && !clip.plans.empty();
}

// The summary and candidate plans the instance copies, built as the pixel
// format selectors build them when the host has not asked for them yet.
bool describeForAsync(ClipInstance& clip) {
    const char* name = clip.path.c_str();
    if (!clip.mainDemuxer.isOpen() && !clip.reopen()) {
        Logger::log(LogLevel::Error, "imCreateAsyncImporter: cannot open source for %s", name);
        return false;
    }
    if (!clip.summaryBuilt && !clip.describeVideo()) {
        Logger::log(LogLevel::Error, "imCreateAsyncImporter: no video streams in %s", name);
        return false;
    }
    if (!clip.plansBuilt || clip.plans.empty()) {
        const StreamInfo* stream = clip.mainDemuxer.findStream(clip.mappedVideo);
        if (!stream || stream->mediaType != AVMEDIA_TYPE_VIDEO) {
            Logger::log(LogLevel::Error,
                        "imCreateAsyncImporter: no video stream at index %d for %s",
                        clip.mappedVideo, name);
            return false;
        }
        buildCandidatePlans(clip, *stream);
    }
    if (!described(clip)) {
        Logger::log(LogLevel::Error, "imCreateAsyncImporter: clip not described for %s", name);
        return false;
    }
    return true;
}

// The GPU backend decoder selection chose for the clip's stream, 0 for software.
int32_t chosenDeviceType(const ClipInstance& clip) {
    const StreamInfo* stream = clip.mainDemuxer.findStream(clip.mappedVideo);
    if (!Preferences::get().enableHardwareDecoding || !stream) {
        return 0;
    }
    const DecoderVerdict verdict = selectDecoder(clip.mainDemuxer, *stream);
    return verdict.useHardware ? verdict.deviceType : 0;
}

}  // namespace

Result imCreateAsyncImporterHandler(void* record) {
    LockedClip clip(record, asynccreaterec::kPrivateData);
    if (!clip) {
        return imFailure;
    }
    if (!described(*clip) && !describeForAsync(*clip)) {
        return imFailure;
    }
    const AsyncSource source{clip->path,
                             clip->mappedVideo,
                             clip->summary,
                             clip->plans,
                             clip->selectedPlan,
                             clip->planSelected,
                             clip->hostValue,
                             chosenDeviceType(*clip),
                             readField<int64_t>(record, asynccreaterec::kPassThrough),
                             0};
    AsyncInstance* instance = createAsyncInstance(source);
    if (!instance) {
        Logger::log(LogLevel::Error, "imCreateAsyncImporter: creation failed for %s",
                    clip->path.c_str());
        return imFailure;
    }
    writeField<AsyncEntryFn>(record, asynccreaterec::kOutEntry, &AsyncImporterEntry);
    writeField<void*>(record, asynccreaterec::kOutPrivateData, instance);
    Logger::log(LogLevel::Info, "imCreateAsyncImporter: created for %s stream %d",
                clip->path.c_str(), clip->mappedVideo);
    return imNoErr;
}

}  // namespace kestrova::async
