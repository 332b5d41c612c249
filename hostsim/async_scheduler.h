// A playing host: requesting threads that ask the async entry for a list of
// frames in order, with a flush and the final close sent from a control
// thread of their own while requests are still in flight.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "async_records.h"

namespace kestrova::hostsim {

struct AsyncPlayback {
    // Requested in this order, each by the next free requesting thread.
    std::vector<int64_t> frames;
    int32_t threads = 1;
    int32_t rateNum = 0;
    int32_t rateDen = 1;
    std::vector<host::FrameFormat> formats;
    // Asks aiSelectEfficientRenderTime for each time first and requests the
    // time it answers, as a scrubbing host does.
    bool snapRenderTimes = false;
    // Called on the requesting thread with each answer, before the frame
    // is disposed.
    std::function<void(int64_t frame, const AsyncFrameAnswer&)> onFrame;
    // aiFlush once this many requests have started, and aiClose likewise;
    // -1 sends none. No request starts after aiClose has returned.
    int64_t flushAfter = -1;
    int64_t closeAfter = -1;
};

struct AsyncPlaybackReport {
    int64_t requested = 0;
    int64_t delivered = 0;
    int64_t failed = 0;   // answered 2
    int64_t refused = 0;  // answered 3: closing, or no plan
    int64_t snapped = 0;  // render times moved to a keyframe
    bool flushed = false;
    bool closed = false;
    host::Result flushResult = host::imNoErr;
    host::Result closeResult = host::imNoErr;
    double seconds = 0;
    // Milliseconds of each request, in request order (0 for frames never asked).
    std::vector<double> latencyMs;
};

AsyncPlaybackReport playAsync(const AsyncImporter& importer, Host& host,
                              const AsyncPlayback& playback);

// A scrub over a clip of `frameCount` frames: forward from 0, a jump back,
// forward again, then in reverse down to 0.
std::vector<int64_t> scrubPattern(int64_t frameCount);

}  // namespace kestrova::hostsim
