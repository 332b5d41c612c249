// aiGetFrame: a frame for a playback thread, from the host's frame cache,
// the instance's own cache (filled ahead by the prefetcher) or its decoder.
#include "async/async_entry.h"
#include "async/async_instance.h"
#include "host/frame_delivery.h"
#include "host/host_suites.h"
#include "pixels/host_formats.h"
#include "support/logger.h"

namespace kestrova::async {
namespace {

using namespace host;

long long asLL(int64_t value) {
    return static_cast<long long>(value);
}

const ffmpeg::FfmpegFunctions& fn() {
    return ffmpeg::FfmpegRuntime::instance().fn();
}

ffmpeg::FramePtr cachedFrame(AsyncInstance& instance, int64_t n) {
    std::lock_guard lock(instance.cacheMutex);
    return instance.frameCache.lookupRef(n);
}

// Pictures decoded on the way to a requested frame serve the requests that
// follow; runs on the decoding thread under the decode mutex.
void storeIntermediate(void* context, int64_t frameIndex, const AVFrame* frame) {
    auto& instance = *static_cast<AsyncInstance*>(context);
    std::lock_guard lock(instance.cacheMutex);
    if (!instance.frameCache.contains(frameIndex)) {
        instance.frameCache.store(frameIndex, frame);
    }
}

// Run under the decode mutex.
bool openDecoder(AsyncInstance& instance) {
    if (instance.decoderOpen) {
        return true;
    }
    if (!instance.decoder.open(instance.demuxer, instance.streamIndex, 0, instance.deviceType != 0,
                               instance.deviceType, ThreadRole::Foreground)) {
        Logger::log(LogLevel::Error, "aiGetFrame: decoder open failed for %s",
                    instance.path.c_str());
        return false;
    }
    instance.decoderOpen = true;
    // The container's own index adds nothing to the decoder's timestamp seeks.
    if (!instance.seekIndex.entries.empty() && !instance.seekIndex.fromContainer) {
        instance.decoder.setSeekIndex(&instance.seekIndex);
    }
    instance.decoder.setFrameObserver(&storeIntermediate, &instance);
    return true;
}

// A reference of the decoder's picture that stays valid once the decode
// mutex is released.
ffmpeg::FramePtr ownReference(const AVFrame* picture, int64_t n) {
    ffmpeg::FramePtr owned(fn().av_frame_alloc());
    if (!owned) {
        Logger::log(LogLevel::Error, "aiGetFrame: av_frame_alloc failed");
        return nullptr;
    }
    if (const int err = fn().av_frame_ref(owned.get(), picture); err < 0) {
        Logger::log(LogLevel::Error, "aiGetFrame: av_frame_ref failed for frame %lld, err=%d",
                    asLL(n), err);
        return nullptr;
    }
    if ((owned->hw_frames_ctx || !owned->buf[0]) && !fn().av_frame_is_writable(owned.get())) {
        if (const int err = fn().av_frame_make_writable(owned.get()); err < 0) {
            Logger::log(LogLevel::Error,
                        "aiGetFrame: av_frame_make_writable failed for frame %lld, err=%d", asLL(n),
                        err);
            return nullptr;
        }
    }
    return owned;
}

// The frame decoded under the decode mutex, or null after logging why.
ffmpeg::FramePtr decodedFrame(AsyncInstance& instance, int64_t n, bool& fromCache) {
    std::lock_guard decoding(instance.decodeMutex);
    // Another request or the prefetcher may have stored it while this one waited.
    if (ffmpeg::FramePtr cached = cachedFrame(instance, n)) {
        fromCache = true;
        return cached;
    }
    if (!openDecoder(instance)) {
        return nullptr;
    }
    const FrameResult result = instance.decoder.frameAt(n);
    instance.hwFallenBack = instance.decoder.hardware().fallenBack;
    if (result.status == DecodeStatus::Ok) {
        instance.lastDecoded = n;
    }
    if (result.status != DecodeStatus::Ok) {
        const bool first = !instance.decodeFailureReported;
        instance.decodeFailureReported = true;
        Logger::log(first ? LogLevel::Error : LogLevel::Debug,
                    "aiGetFrame: decode FAILED frame %lld of %s: status=%d detail=%s%s", asLL(n),
                    instance.path.c_str(), static_cast<int>(result.status), result.detail.c_str(),
                    first ? " (further failures logged at DEBUG)" : "");
        return nullptr;
    }
    const AVFrame* picture = instance.decoder.currentFrame();
    if (!picture) {
        Logger::log(LogLevel::Error,
                    "aiGetFrame: currentFrame() returned null after successful decode, frame %lld",
                    asLL(n));
        return nullptr;
    }
    if (!ffmpeg::FfmpegRuntime::instance().available()) {
        Logger::log(LogLevel::Error, "aiGetFrame: FFmpeg runtime not available");
        return nullptr;
    }
    // Stand-ins are delivered but never remembered as the real picture of n.
    if (!result.notExact && !result.repeatedLastGood && !result.black) {
        std::lock_guard lock(instance.cacheMutex);
        if (instance.frameCache.store(n, picture) != 0) {
            if (ffmpeg::FramePtr stored = instance.frameCache.lookupRef(n)) {
                return stored;
            }
        }
    }
    return ownReference(picture, n);
}

// True when the instance's own decoder delivers n anyway: the first request
// (where it opens), or n lies within a few frames of the newest frame it
// delivered: the next ones, which it reaches by decoding on, or frames just
// behind it that playing threads overtook and that it stored on the way. The
// multi-threaded foreground decoder is then the fastest way forward, and a
// prefetcher woken there would only decode the same frames again.
bool foregroundDecodeCovers(const AsyncInstance& instance, int64_t n) {
    const int64_t last = instance.lastDecoded;
    return last < 0 || (n - last <= kRequestJitter + 1 && last - n <= kRequestJitter);
}

void logOfferedFormats(const AsyncInstance& instance, int64_t n, const FrameFormat* formats,
                       int32_t count) {
    if (!Logger::enabled(LogLevel::Debug)) {
        return;
    }
    Logger::log(LogLevel::Debug, "aiGetFrame: frame %lld for %s, numFormats=%d, negotiatedValid=%d",
                asLL(n), instance.path.c_str(), count, instance.planSelected ? 1 : 0);
    for (int32_t i = 0; formats && i < count && i < 4; ++i) {
        Logger::log(LogLevel::Debug, "  inFrameFormats[%d] = %s", i,
                    printableFourCC(formats[i].format).c_str());
    }
}

}  // namespace

Result aiGetFrameHandler(AsyncInstance& instance, void* record) {
    auto* out = readField<PPixHand*>(record, asyncframerec::kOutPPix);
    if (!out) {
        return aiFailure;
    }
    const StreamSummary& s = instance.summary;
    const int64_t n = frameNumberAt(readField<int64_t>(record, asyncframerec::kTime),
                                    s.frameRateNum, s.frameRateDen, HostSuites::ticksPerSecond());
    const auto* formats = readField<const FrameFormat*>(record, asyncframerec::kFormats);
    const int32_t formatCount = readField<int32_t>(record, asyncframerec::kFormatCount);
    logOfferedFormats(instance, n, formats, formatCount);

    const TargetPlan& plan =
        pickPlan(instance.plans, instance.planSelected ? &instance.selectedPlan : nullptr, formats,
                 formatCount);
    if (plan.format == kBadFormat) {
        Logger::log(LogLevel::Error, "aiGetFrame: no valid target plan for %s",
                    instance.path.c_str());
        return aiClosing;
    }
    if (s.hdr && !hdrDeliveryAllowed(plan)) {
        Logger::log(LogLevel::Error, "aiGetFrame: HDR contract violated for %s",
                    instance.path.c_str());
        return aiClosing;
    }
    if (Logger::enabled(LogLevel::Debug)) {
        Logger::log(LogLevel::Debug, "aiGetFrame: selected plan fmt=%s conversion=%d",
                    printableFourCC(plan.format).c_str(), static_cast<int>(plan.kind));
    }
    const HostCacheSlot slot{instance.hostValue,
                             instance.streamIndex,
                             s.width,
                             s.height,
                             plan.format,
                             n,
                             readField<void*>(record, asyncframerec::kPassThrough),
                             readField<int32_t>(record, asyncframerec::kPassThroughValue)};
    PPixHand ppix = nullptr;
    if (hostCacheLookup(slot, ppix)) {
        *out = ppix;
        return imNoErr;
    }
    const bool prefetching =
        instance.prefetcher.start(instance.path, instance.streamIndex, instance.deviceType,
                                  &instance.frameCache, &instance.cacheMutex);
    ffmpeg::FramePtr owned = cachedFrame(instance, n);
    // The prefetcher follows the requests it is ahead of, jumps and reverse
    // play; forward play that outruns it is left to the foreground decoder.
    if (prefetching && !foregroundDecodeCovers(instance, n)) {
        instance.prefetcher.notify(n);
    }
    bool fromCache = false;
    if (owned) {
        fromCache = true;
    } else {
        owned = decodedFrame(instance, n, fromCache);
        if (!owned) {
            return aiFailure;
        }
    }
    if (!owned->data[0]) {
        Logger::log(LogLevel::Error, "aiGetFrame: ownedFrame has null data for frame %lld",
                    asLL(n));
        return aiFailure;
    }
    if (Logger::enabled(LogLevel::Debug)) {
        Logger::log(LogLevel::Debug,
                    "aiGetFrame: converting frame %lld, fmt=%s, frame->format=%d, linesize[0]=%d",
                    asLL(n), printableFourCC(plan.format).c_str(), owned->format,
                    owned->linesize[0]);
    }
    const DeliveryClip delivery{instance.path,
                                s.width,
                                s.height,
                                s.aspectNum,
                                s.aspectDen,
                                isInterlaced(s.fieldOrder),
                                instance.hwFallenBack,
                                instance.divergence,
                                instance.greyFallbackReported};
    ppix = deliverFrame(delivery, plan, owned.get(), n, fromCache, kAsyncFrameMessages);
    if (!ppix) {
        return aiFailure;
    }
    hostCacheAdd(slot, ppix);
    *out = ppix;
    Logger::log(LogLevel::Debug, "aiGetFrame: SUCCESS frame %lld delivered in %s", asLL(n),
                printableFourCC(plan.format).c_str());
    return imNoErr;
}

}  // namespace kestrova::async
