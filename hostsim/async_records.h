// The host's asynchronous importer records: creating an async instance for a
// clip and calling the entry the module handed back, each record a byte
// buffer at the module's offsets. Every function may be called from several
// threads at once.
#pragma once

#include <cstdint>
#include <vector>

#include "host.h"

namespace kestrova::hostsim {

struct AsyncImporter {
    host::Result result = host::imFailure;
    host::AsyncEntryFn entry = nullptr;
    void* instance = nullptr;
    explicit operator bool() const { return result == host::imNoErr && entry && instance; }
};
// imCreateAsyncImporter for an open clip; `passThrough` is the record's
// value the module keeps with the instance.
AsyncImporter createAsyncImporter(const Host& host, void* clip, int64_t passThrough = 0);

// A selector whose record holds only the instance (aiInitiateAsyncRead, or
// any number, to see how the entry answers it).
host::Result asyncRecordSelector(const AsyncImporter& importer, host::Selector selector);

struct AsyncFrameAnswer {
    host::Result result = host::imFailure;
    // Owned by the caller, who disposes it through the host's PPix store.
    host::PPixHand ppix = nullptr;
};
AsyncFrameAnswer asyncGetFrame(const AsyncImporter& importer, int64_t timeTicks,
                               const std::vector<host::FrameFormat>& acceptable);

struct RenderTimeAnswer {
    host::Result result = host::imFailure;
    int64_t timeTicks = 0;
};
RenderTimeAnswer selectEfficientRenderTime(const AsyncImporter& importer, int64_t timeTicks);

struct PlaybackSpeedAnswer {
    host::Result result = host::imFailure;
    double speed = 0;
};
PlaybackSpeedAnswer minPlaybackSpeedForEfficientTime(const AsyncImporter& importer);

// aiFlush and aiClose take the instance itself.
host::Result asyncFlush(const AsyncImporter& importer);
host::Result asyncClose(const AsyncImporter& importer);

}  // namespace kestrova::hostsim
