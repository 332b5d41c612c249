// Where a trim of video may really start: a decoder can only begin at a
// keyframe, so the in point moves back to one and the duration grows to keep
// the out point.
#pragma once

#include <cstdint>
#include <vector>

namespace kestrova::fileops {

struct TrimSpan {
    int32_t in = 0;
    int32_t duration = 0;
};

// `keyframes` are frame numbers in ascending order; an empty list leaves the
// span as requested. The last keyframe at or before the in point is taken
// (the first keyframe when none is), never moving the in point forward.
TrimSpan snapToKeyframe(const std::vector<int64_t>& keyframes, TrimSpan requested);

}  // namespace kestrova::fileops
