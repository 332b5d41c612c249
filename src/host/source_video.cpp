// imGetSourceVideo: the host asks for the picture at a time and receives it
// in a host frame buffer, from its own cache, ours, or the decoder.
#include "host/clip_instance.h"
#include "host/clip_selectors.h"
#include "host/frame_delivery.h"
#include "host/host_suites.h"
#include "pixels/host_formats.h"
#include "support/logger.h"

namespace kestrova::host {
namespace {

struct Request {
    void* record;
    int64_t frameNumber;
    const TargetPlan& plan;
};

HostCacheSlot hostCacheSlot(const ClipInstance& clip, const Request& request) {
    return {clip.hostValue,
            clip.mappedVideo,
            clip.summary.width,
            clip.summary.height,
            request.plan.format,
            request.frameNumber,
            readField<void*>(request.record, sourcevideorec::kPassThrough),
            readField<int32_t>(request.record, sourcevideorec::kPassThroughValue)};
}

// The picture for the request from our cache or the decoder; null after
// logging why. `fromCache` tells which.
const AVFrame* sourcePicture(ClipInstance& clip, const Request& request, int32_t quality,
                             bool& fromCache) {
    const std::string& name = clip.path;
    if (clip.videoDecoderOpen && clip.videoDecoder.setQuality(quality)) {
        clip.frameCache.clear();
    }
    if (const AVFrame* cached = clip.frameCache.lookup(request.frameNumber)) {
        fromCache = true;
        return cached;
    }
    if (!clip.openVideoDecoder()) {
        Logger::log(LogLevel::Error, "imGetSourceVideo: decoder open failed for %s stream %d",
                    name.c_str(), clip.mappedVideo);
        return nullptr;
    }
    (void)clip.videoDecoder.setQuality(quality);
    const FrameResult result = clip.videoDecoder.frameAt(request.frameNumber);
    if (result.status != DecodeStatus::Ok) {
        Logger::log(LogLevel::Warning, "imGetSourceVideo: decode failed for frame %lld of %s: %s",
                    static_cast<long long>(request.frameNumber), name.c_str(),
                    result.detail.c_str());
        return nullptr;
    }
    const AVFrame* picture = clip.videoDecoder.currentFrame();
    if (!picture) {
        Logger::log(LogLevel::Error, "imGetSourceVideo: no frame after decode for %s",
                    name.c_str());
        return nullptr;
    }
    // Stand-ins are never remembered as the real picture of this frame.
    if (!result.notExact && !result.repeatedLastGood && !result.black) {
        clip.frameCache.store(request.frameNumber, picture);
    }
    return picture;
}

}  // namespace

Result imGetSourceVideoHandler(void* record) {
    Logger::log(LogLevel::Debug, "imGetSourceVideo: entry (rec=%p)", record);
    auto* out = record ? readField<PPixHand*>(record, sourcevideorec::kOutPPix) : nullptr;
    LockedClip clip(out ? record : nullptr, sourcevideorec::kPrivateData);
    if (!clip) {
        return imFailure;
    }
    const std::string& name = clip->path;
    if (!clip->summaryBuilt || clip->plans.empty()) {
        Logger::log(LogLevel::Error, "imGetSourceVideo: clip not described for %s", name.c_str());
        return imFailure;
    }
    const TargetPlan& plan =
        pickPlan(clip->plans, clip->planSelected ? &clip->selectedPlan : nullptr,
                 readField<const FrameFormat*>(record, sourcevideorec::kFormats),
                 readField<int32_t>(record, sourcevideorec::kFormatCount));
    if (plan.format == kBadFormat) {
        Logger::log(LogLevel::Error, "imGetSourceVideo: no valid target plan for %s", name.c_str());
        return imFailure;
    }
    if (clip->summary.hdr && !hdrDeliveryAllowed(plan)) {
        Logger::log(LogLevel::Error,
                    "imGetSourceVideo: HDR delivery contract violated for %s. HDR clip requires a "
                    "32f or HDR-tagged target but got %s (%s). Refusing to deliver "
                    "incorrectly-tagged data.",
                    name.c_str(), printableFourCC(plan.format).c_str(), enumName(plan.kind));
        return imFailure;
    }
    const StreamSummary& s = clip->summary;
    const Request request{
        record,
        frameNumberAt(readField<int64_t>(record, sourcevideorec::kTime), s.frameRateNum,
                      s.frameRateDen, HostSuites::ticksPerSecond()),
        plan};
    PPixHand ppix = nullptr;
    if (hostCacheLookup(hostCacheSlot(*clip, request), ppix)) {
        *out = ppix;
        Logger::log(LogLevel::Debug, "imGetSourceVideo: cache hit frame %lld for %s",
                    static_cast<long long>(request.frameNumber), name.c_str());
        return imNoErr;
    }
    if (!clip->reopen()) {
        Logger::log(LogLevel::Error, "imGetSourceVideo: cannot open %s", name.c_str());
        return imFailure;
    }
    bool fromCache = false;
    const AVFrame* picture = sourcePicture(
        *clip, request, readField<int32_t>(record, sourcevideorec::kQuality), fromCache);
    if (!picture) {
        return imFailure;
    }
    const DeliveryClip delivery{name,
                                s.width,
                                s.height,
                                s.aspectNum,
                                s.aspectDen,
                                isInterlaced(s.fieldOrder),
                                clip->videoDecoder.hardware().fallenBack,
                                clip->divergence,
                                clip->greyFramesReported};
    ppix =
        deliverFrame(delivery, plan, picture, request.frameNumber, fromCache, kSourceVideoMessages);
    if (!ppix) {
        return imFailure;
    }
    *out = ppix;
    if (Logger::enabled(LogLevel::Debug)) {  // the format text costs an allocation per frame
        Logger::log(LogLevel::Debug, "imGetSourceVideo: delivered frame %lld (%s%s) for %s",
                    static_cast<long long>(request.frameNumber),
                    printableFourCC(plan.format).c_str(), fromCache ? ", cache hit" : "",
                    name.c_str());
    }
    hostCacheAdd(hostCacheSlot(*clip, request), ppix);
    return imNoErr;
}

}  // namespace kestrova::host
