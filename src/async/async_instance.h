// A self-contained copy of what frame delivery needs from one clip, with its
// own demuxer, decoder, keyframe index, frame cache and prefetch thread, so
// the host's playback threads never touch the clip or take its lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "containers/clip_description.h"
#include "host/stream_summary.h"
#include "pixels/divergence_tracker.h"
#include "pixels/target_plan.h"
#include "video/frame_cache.h"
#include "video/prefetcher.h"
#include "video/seek_index.h"
#include "video/video_decoder.h"

namespace kestrova::async {

struct AsyncInstance {
    std::string path;
    int32_t streamIndex = -1;
    host::StreamSummary summary;
    std::vector<TargetPlan> plans;
    TargetPlan selectedPlan;
    bool planSelected = false;
    // The host's importer identifier, handed back to its frame cache.
    int32_t hostValue = 0;
    int32_t deviceType = 0;
    int64_t passThrough = 0;
    int64_t passThroughExtra = 0;

    ClipDescription demuxer;
    SeekIndex seekIndex;
    // Its median spacing, worked out once: the index is only read after creation.
    int64_t keyframeSpacing = 0;
    // Declared after the demuxer it borrows, so it is destroyed first.
    VideoDecoder decoder;
    bool decoderOpen = false;
    // Taken before cacheMutex; serialises every use of the decoder.
    std::mutex decodeMutex;
    std::mutex cacheMutex;
    FrameCache frameCache;
    // Declared after the cache it fills, so its thread stops first.
    Prefetcher prefetcher;
    DivergenceTracker divergence;
    // Guarded by decodeMutex, like the decoder.
    bool decodeFailureReported = false;
    // The frame the decoder delivered last, read by requests without the
    // decode mutex; -1 before the first.
    std::atomic<int64_t> lastDecoded{-1};
    // Read by deliveries that run beside a decode.
    std::atomic<bool> hwFallenBack{false};
    std::atomic<bool> greyFallbackReported{false};

    // Requests inside the instance; aiClose frees it only once this drains.
    std::atomic<int32_t> inFlight{0};
    std::atomic<bool> closing{false};
};

// What the creating selector hands over from the clip.
struct AsyncSource {
    const std::string& path;
    int32_t streamIndex;
    const host::StreamSummary& summary;
    const std::vector<TargetPlan>& plans;
    const TargetPlan& selectedPlan;
    bool planSelected;
    int32_t hostValue;
    int32_t deviceType;
    int64_t passThrough;
    int64_t passThroughExtra;
};

// A new instance with its own demuxer open, or null after logging why.
AsyncInstance* createAsyncInstance(const AsyncSource& source);
// Closes the decoder and demuxer and frees the instance.
void destroyAsyncInstance(AsyncInstance* instance);

}  // namespace kestrova::async
