// Delivery of one decoded picture into a host frame buffer in a plan's
// format: allocation, buffer layout, conversion, divergence reporting.
#pragma once

#include <cstdint>
#include <string>

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
};
extern const DeliveryMessages kSourceVideoMessages;

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
    bool& greyFramesReported;
};

// A filled host frame owned by the caller, or null after logging why.
PPixHand deliverFrame(const DeliveryClip& clip, const TargetPlan& plan, const AVFrame* frame,
                      int64_t frameNumber, bool fromCache, const DeliveryMessages& messages);

// The frame shown at `time` host ticks, rounded to the nearest frame.
int64_t frameNumberAt(int64_t time, int32_t rateNum, int32_t rateDen, int64_t ticksPerSecond);

}  // namespace kestrova::host
