// Delivery of one decoded picture into a host frame buffer in a plan's
// format: allocation, buffer layout, conversion, divergence reporting.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "pixels/divergence_tracker.h"
#include "pixels/pixel_enums.h"
#include "pixels/target_plan.h"

struct AVFrame;

namespace kestrova::host {

// The log texts of one selector that delivers frames.
struct DeliveryMessages {
    const char* creatorMissing;
    const char* createFailed;  // err, clip, format
    const char* ppixSuiteMissing;
    const char* planarSuiteMissing;
    const char* planarBuffersFailed;    // err, clip
    const char* biplanarSuiteMissing;   // format
    const char* biplanarBuffersFailed;  // err, format
    const char* pixelsNull;             // clip
    const char* rowBytesZero;           // clip
    const char* divergence;             // tracker message
    const char* greyFirst;              // kind
    const char* greyAgain;              // kind
    const char* deliveryFailed;         // reason, frame, clip
    // The buffer failures name the planes (err, pointers, row bytes) instead
    // of the clip or format.
    bool planeFailuresShowPointers;
};
extern const DeliveryMessages kSourceVideoMessages;
extern const DeliveryMessages kAsyncFrameMessages;

// The plan a request gets: the first candidate (in list order) the request
// accepts; else the negotiated plan unless it is badf; else the first
// candidate. `plans` is not empty.
const TargetPlan& pickPlan(const std::vector<TargetPlan>& plans, const TargetPlan* negotiated,
                           const FrameFormat* formats, int32_t count);

// One frame's place in the host's frame cache.
struct HostCacheSlot {
    int32_t importerId;
    int32_t stream;
    int32_t width;
    int32_t height;
    uint32_t format;
    int64_t frame;
    void* passThrough;
    int32_t passThroughValue;
};
// The host's cached frame, when it has one; never without an importer id.
bool hostCacheLookup(const HostCacheSlot& slot, PPixHand& out);
void hostCacheAdd(const HostCacheSlot& slot, PPixHand ppix);

// What delivery needs to know about the clip.
struct DeliveryClip {
    const std::string& name;
    int32_t width;
    int32_t height;
    int32_t aspectNum;
    int32_t aspectDen;
    bool useFields;
    bool hwFallbackActive;
    DivergenceTracker& divergence;
    // Shared by the threads that deliver frames of one clip at once.
    std::atomic<bool>& greyFramesReported;
};

// A filled host frame owned by the caller, or null after logging why.
PPixHand deliverFrame(const DeliveryClip& clip, const TargetPlan& plan, const AVFrame* frame,
                      int64_t frameNumber, bool fromCache, const DeliveryMessages& messages);

// The frame shown at `time` host ticks, rounded to the nearest frame.
int64_t frameNumberAt(int64_t time, int32_t rateNum, int32_t rateDen, int64_t ticksPerSecond);

}  // namespace kestrova::host
