// What the audio selectors share: entering the clip a record names (or
// declining during a quiet or close) and zero-filling host planes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "host/clip_instance.h"

namespace kestrova::host {

class AudioEntry {
  public:
    // `answer` is set when the selector must answer without going on. A
    // `selector` named is counted and logged when a quiet or close turns it
    // away.
    AudioEntry(void* record, std::size_t privateDataOffset, const char* selector);
    std::optional<Result> answer;
    ClipInstance* operator->() const { return clip_.operator->(); }
    ClipInstance& operator*() const { return *clip_; }

  private:
    LockedClip clip_;
};

// Zeroes `frames` floats in each of the first `channels` planes; a null
// array or plane is skipped.
void zeroPlanes(float* const* planes, int32_t channels, int64_t frames);

// The first channel and the channel count the clip's host stream carries.
struct SplitChannels {
    int32_t offset = 0;
    int32_t count = 0;
};
SplitChannels splitChannels(const ClipInstance& clip);

}  // namespace kestrova::host
