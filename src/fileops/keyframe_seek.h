// Sends a demuxer to just before the keyframe a trim starts from. A seek by
// timestamp may land after that keyframe (MPEG-TS seeks by searching
// timestamps in the bytes, and lands on whatever packet is nearest), so the
// landing is checked by reading, and the seek moves further back until the
// keyframe is seen.
#pragma once

#include <cstdint>

#include "ffmpeg/ffmpeg_runtime.h"

namespace kestrova::fileops {

// Positions `format` so that reading meets the last keyframe of `stream`
// shown at or before `limit` ahead of every later packet of that stream.
// `target` is where to seek first; times are in the stream's time base.
// Answers the keyframe's presentation time, or AV_NOPTS_VALUE when no
// keyframe is shown at or before `limit` (reading then starts at the file's
// start). Other streams are read again afterwards as before.
int64_t seekToKeyframeBefore(AVFormatContext* format, int32_t stream, int64_t target,
                             int64_t limit);

}  // namespace kestrova::fileops
