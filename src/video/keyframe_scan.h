// Lists the keyframes of one stream by reading its packets once, for formats
// whose container keeps no index: the packets' own keyframe marks (set by
// the container or FFmpeg's parsers, recovery points included) say where a
// decoder can start, so nothing is decoded.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "containers/clip_description.h"
#include "video/seek_index.h"

namespace kestrova {

struct KeyframeScan {
    bool ok = false;
    std::string error;
    int64_t packets = 0;
};

// Called now and then with the bytes read so far.
using ScanProgress = std::function<void(int64_t bytesRead)>;

// Fills `index` for `streamIndex` of a freshly probed description, numbering
// the keyframes the way the video decoder numbers frames.
KeyframeScan scanKeyframes(const ClipDescription& clip, int32_t streamIndex, SeekIndex& index,
                           const ScanProgress& progress);

// Whether reading resumes at the listed keyframes when the demuxer is sent
// to their byte positions, as the video decoder does with an accelerator
// file. Demuxers that only find their place through an index of their own
// fail this; streams without timestamps pass (they are read from the start).
// Checks a few entries spread over the index.
bool resumesAtKeyframePositions(const ClipDescription& clip, const SeekIndex& index);

// The frame number of a timestamp counted from `origin` at `rate`, never
// negative; -1 when the rate or time base cannot number frames.
int64_t frameNumberOf(int64_t timestamp, int64_t origin, AVRational timeBase, AVRational rate);

}  // namespace kestrova
