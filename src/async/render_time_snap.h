// Choosing a render time the decoder reaches without decoding forward: the
// keyframe at or before the requested frame, when the index is close enough
// to be trusted there.
#pragma once

#include <cstdint>

#include "video/seek_index.h"

namespace kestrova::async {

struct SnapDecision {
    enum class Kind { NoIndex, AlreadyKeyframe, Snapped, Declined };
    Kind kind = Kind::NoIndex;
    int64_t frame = 0;     // the requested frame
    int64_t keyframe = 0;  // the indexed keyframe at or before it
    int64_t spacing = 0;   // the index's median keyframe spacing
};

// Snaps frame n to the indexed keyframe k at or before it when n - k is at
// most `spacing`, the index's median keyframe spacing; a request further past
// the last entry lies where the index does not reach, and is left alone.
SnapDecision snapToKeyframe(const SeekIndex& index, int64_t spacing, int64_t n);

// Host ticks of the start of frame `frame`, rounded; 0 when the rate or the
// tick rate is not positive.
int64_t ticksOfFrame(int64_t frame, int32_t rateNum, int32_t rateDen, int64_t ticksPerSecond);

}  // namespace kestrova::async
