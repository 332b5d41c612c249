// Host streams: host stream 0 carries the first video and first audio stream
// together, further video streams come alone, further audio streams follow.
// An audio stream wider than 32 channels is offered as one host audio
// stream per group of 32, so that none of its channels is lost.
#pragma once

#include <cstdint>

#include "containers/clip_description.h"

namespace kestrova::host {

struct StreamMapping {
    int32_t video = -1;
    int32_t audio = -1;
    // Which group of 32 channels of the audio stream the host stream carries.
    int32_t split = 0;
    bool valid = false;
};

int32_t hostStreamCount(int32_t videoCount, int32_t audioCount);

// Maps host stream `index` given the FFmpeg indices of the decodable video
// and audio streams, in host order.
template <typename List>
StreamMapping mapHostStream(int32_t index, const List& video, const List& audio) {
    const auto v = static_cast<int32_t>(video.size());
    const auto a = static_cast<int32_t>(audio.size());
    StreamMapping mapping;
    if (index < 0 || index >= hostStreamCount(v, a)) {
        return mapping;
    }
    mapping.valid = true;
    if (v == 0) {
        mapping.audio = a > 0 ? audio[index] : -1;
    } else if (index < v) {
        mapping.video = video[index];
        mapping.audio = index == 0 && a > 0 ? audio[0] : -1;
    } else if (index - v + 1 < a) {
        mapping.audio = audio[index - v + 1];
    }
    return mapping;
}

// The same for the decodable streams of an open description, with the
// groups of wide audio streams in place of the streams.
StreamMapping mapHostStream(int32_t index, const ClipDescription& description);
int32_t hostStreamCount(const ClipDescription& description);

}  // namespace kestrova::host
