#include "host/frame_delivery.h"

#include <limits>
#include <utility>

#include "host/host_suites.h"
#include "pixels/convert.h"
#include "pixels/host_formats.h"
#include "support/logger.h"

namespace kestrova::host {

const DeliveryMessages kSourceVideoMessages = {
    "imGetSourceVideo: PPix Creator 2 Suite unavailable",
    "imGetSourceVideo: CreatePPix failed (err=%d) for %s format %s",
    "imGetSourceVideo: PPix Suite unavailable",
    "imGetSourceVideo: PPix2 Suite unavailable for planar format",
    "imGetSourceVideo: GetYUV420PlanarBuffers failed err=%d for %s",
    "imGetSourceVideo: PPix2 Suite unavailable for biplanar format %s",
    "imGetSourceVideo: GetYUV420PlanarBuffers failed for biplanar err=%d %s",
    "imGetSourceVideo: GetPixels returned null for %s",
    "imGetSourceVideo: GetRowBytes returned 0 for %s",
    "imGetSourceVideo: %s",
    "imGetSourceVideo: conversion kind %s using fallback (grey frames); this is logged once per "
    "clip",
    "imGetSourceVideo: conversion kind %s using fallback",
    "imGetSourceVideo: delivery failed (%s) for frame %lld of %s",
    false,
};

const DeliveryMessages kAsyncFrameMessages = {
    "aiGetFrame: PPix Creator 2 Suite unavailable",
    "aiGetFrame: CreatePPix failed err=%d for %s",
    "aiGetFrame: PPix Suite missing required functions",
    "aiGetFrame: PPix2 Suite unavailable for planar format",
    "aiGetFrame: GetYUV420PlanarBuffers failed err=%d Y=%p U=%p V=%p yRB=%u uRB=%u vRB=%u",
    "aiGetFrame: PPix2 Suite unavailable for biplanar format",
    "aiGetFrame: GetYUV420PlanarBuffers failed for biplanar err=%d Y=%p U=%p yRB=%u uRB=%u",
    "aiGetFrame: GetPixels returned null",
    "aiGetFrame: GetRowBytes returned 0",
    "aiGetFrame: %s",
    "aiGetFrame: conversion kind %s using fallback (grey frames); this is logged once per clip",
    "aiGetFrame: conversion kind %s using fallback",
    "aiGetFrame: delivery failed (%s) for frame %lld of %s",
    true,
};

namespace {

// The formats are runtime tables of texts, checked by their use here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
template <typename... Args>
void logLine(LogLevel level, const char* format, Args... args) {
    Logger::log(level, format, args...);
}
#pragma GCC diagnostic pop

// Releases a PPix unless ownership passes to the caller.
class PPixHolder {
  public:
    PPixHolder(const PPixSuite* suite, PPixHand ppix) : suite_(suite), ppix_(ppix) {}
    ~PPixHolder() {
        if (ppix_ && suite_ && suite_->dispose) {
            suite_->dispose(ppix_);
        }
    }
    PPixHolder(const PPixHolder&) = delete;
    PPixHolder& operator=(const PPixHolder&) = delete;
    PPixHand release() { return std::exchange(ppix_, nullptr); }

  private:
    const PPixSuite* suite_;
    PPixHand ppix_;
};

bool planarDestination(PPixHand ppix, uint32_t format, const DeliveryClip& clip,
                       const DeliveryMessages& m, DestinationBuffers& out) {
    const PPix2Suite* suite = HostSuites::ppix2Suite();
    const bool planar = isPlanar420Format(format);
    if (!suite || !suite->getYUV420PlanarBuffers) {
        if (planar) {
            logLine(LogLevel::Error, m.planarSuiteMissing);
        } else {
            logLine(LogLevel::Error, m.biplanarSuiteMissing, printableFourCC(format).c_str());
        }
        return false;
    }
    char* y = nullptr;
    char* u = nullptr;
    char* v = nullptr;
    uint32_t yRow = 0, uRow = 0, vRow = 0;
    const int32_t err =
        suite->getYUV420PlanarBuffers(ppix, kPPixReadWrite, &y, &yRow, &u, &uRow, &v, &vRow);
    const bool complete = planar ? (y && u && v && yRow && uRow && vRow) : (y && u && yRow && uRow);
    if (err != 0 || !complete) {
        if (m.planeFailuresShowPointers) {
            const auto p = [](const char* plane) { return static_cast<const void*>(plane); };
            if (planar) {
                logLine(LogLevel::Error, m.planarBuffersFailed, err, p(y), p(u), p(v), yRow, uRow,
                        vRow);
            } else {
                logLine(LogLevel::Error, m.biplanarBuffersFailed, err, p(y), p(u), yRow, uRow);
            }
        } else if (planar) {
            logLine(LogLevel::Error, m.planarBuffersFailed, err, clip.name.c_str());
        } else {
            logLine(LogLevel::Error, m.biplanarBuffersFailed, err, printableFourCC(format).c_str());
        }
        return false;
    }
    out.planes[0] = {reinterpret_cast<uint8_t*>(y), yRow};
    out.planes[1] = {reinterpret_cast<uint8_t*>(u), uRow};
    if (planar) {
        out.planes[2] = {reinterpret_cast<uint8_t*>(v), vRow};
    }
    return true;
}

bool packedDestination(const PPixSuite& suite, PPixHand ppix, const DeliveryClip& clip,
                       const DeliveryMessages& m, DestinationBuffers& out) {
    char* pixels = nullptr;
    if (suite.getPixels(ppix, kPPixReadWrite, &pixels) != 0 || !pixels) {
        logLine(LogLevel::Error, m.pixelsNull, clip.name.c_str());
        return false;
    }
    int32_t rowBytes = 0;
    if (suite.getRowBytes(ppix, &rowBytes) != 0 || rowBytes == 0) {
        logLine(LogLevel::Error, m.rowBytesZero, clip.name.c_str());
        return false;
    }
    out.packed = {reinterpret_cast<uint8_t*>(pixels), rowBytes};
    return true;
}

void reportDivergence(const DeliveryClip& clip, const ConvertResult& result, int64_t frameNumber,
                      bool fromCache, const DeliveryMessages& m) {
    if (!result.route.layoutDiffers) {
        return;
    }
    const DivergenceEvent event{result.route.expectedFormat,
                                result.route.actualFormat,
                                result.route.route,
                                frameNumber,
                                fromCache,
                                clip.hwFallbackActive,
                                result.reason,
                                clip.name};
    std::string message;
    if (clip.divergence.record(event, &message)) {
        const bool unsupported = result.route.route == DeliveryRoute::Unsupported;
        logLine(unsupported ? LogLevel::Error : LogLevel::Warning, m.divergence, message.c_str());
    }
}

}  // namespace

PPixHand deliverFrame(const DeliveryClip& clip, const TargetPlan& plan, const AVFrame* frame,
                      int64_t frameNumber, bool fromCache, const DeliveryMessages& m) {
    const PPixCreator2Suite* creator = HostSuites::ppixCreator2Suite();
    if (!creator || !creator->createPPix) {
        logLine(LogLevel::Error, m.creatorMissing);
        return nullptr;
    }
    PPixHand created = nullptr;
    const int32_t err =
        creator->createPPix(&created, kPPixReadWrite, plan.format, clip.width, clip.height,
                            clip.useFields, 0, clip.aspectNum, clip.aspectDen);
    const PPixSuite* suite = HostSuites::ppixSuite();
    PPixHolder ppix(suite, created);
    if (err != 0 || !created) {
        logLine(LogLevel::Error, m.createFailed, err, clip.name.c_str(),
                printableFourCC(plan.format).c_str());
        return nullptr;
    }
    if (!suite || !suite->getPixels || !suite->getRowBytes) {
        logLine(LogLevel::Error, m.ppixSuiteMissing);
        return nullptr;
    }
    DestinationBuffers destination;
    destination.width = clip.width;
    destination.height = clip.height;
    const bool planes = isPlanar420Format(plan.format) || isBiplanarFormat(plan.format);
    if (planes ? !planarDestination(created, plan.format, clip, m, destination)
               : !packedDestination(*suite, created, clip, m, destination)) {
        return nullptr;
    }
    const ConvertResult result = convertFrame(plan, frame, destination);
    reportDivergence(clip, result, frameNumber, fromCache, m);
    if (result.status != ConvertStatus::Ok) {
        logLine(LogLevel::Error, m.deliveryFailed, result.reason.c_str(),
                static_cast<long long>(frameNumber), clip.name.c_str());
        return nullptr;
    }
    if (result.greyFallback) {
        if (!clip.greyFramesReported.exchange(true)) {
            logLine(LogLevel::Warning, m.greyFirst, enumName(plan.kind));
        } else {
            logLine(LogLevel::Debug, m.greyAgain, enumName(plan.kind));
        }
    }
    return ppix.release();
}

const TargetPlan& pickPlan(const std::vector<TargetPlan>& plans, const TargetPlan* negotiated,
                           const FrameFormat* formats, int32_t count) {
    if (formats && count > 0) {
        for (const TargetPlan& plan : plans) {
            for (int32_t i = 0; i < count; ++i) {
                if (formats[i].format == plan.format) {
                    return plan;
                }
            }
        }
    }
    if (negotiated && negotiated->format != kBadFormat) {
        return *negotiated;
    }
    return plans.front();
}

bool hostCacheLookup(const HostCacheSlot& slot, PPixHand& out) {
    const PPixCacheSuite* cache = HostSuites::ppixCacheSuite();
    if (!cache || !cache->getFrameFromCache || slot.importerId == 0) {
        return false;
    }
    const FrameFormat format{slot.width, slot.height, slot.format};
    PPixHand hit = nullptr;
    const int32_t err =
        cache->getFrameFromCache(slot.importerId, slot.stream, slot.frame, 1, &format, &hit,
                                 slot.passThrough, slot.passThroughValue);
    if (err != 0 || !hit) {
        return false;
    }
    out = hit;
    return true;
}

void hostCacheAdd(const HostCacheSlot& slot, PPixHand ppix) {
    const PPixCacheSuite* cache = HostSuites::ppixCacheSuite();
    if (cache && cache->addFrameToCache && slot.importerId != 0) {
        cache->addFrameToCache(slot.importerId, slot.stream, ppix, slot.frame, slot.passThrough,
                               slot.passThroughValue);
    }
}

int64_t frameNumberAt(int64_t time, int32_t rateNum, int32_t rateDen, int64_t ticksPerSecond) {
    if (rateNum <= 0 || rateDen <= 0 || ticksPerSecond <= 0 || time < 0) {
        return 0;
    }
    using u128 = unsigned __int128;
    const u128 divisor = static_cast<u128>(ticksPerSecond) * static_cast<u128>(rateDen);
    const u128 frame =
        (static_cast<u128>(time) * static_cast<u128>(rateNum) + divisor / 2) / divisor;
    constexpr auto kMax = static_cast<u128>(std::numeric_limits<int64_t>::max());
    return frame > kMax ? std::numeric_limits<int64_t>::max() : static_cast<int64_t>(frame);
}

}  // namespace kestrova::host
