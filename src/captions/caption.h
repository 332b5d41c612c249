// One closed caption as the host receives it: a time in frames of the
// scanner's frame rate, a format, and either raw caption bytes or text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/host_api.h"

namespace kestrova {

// EIA-608 byte pairs (as FFmpeg carries them: marker-and-type, byte, byte
// triplets), CEA-708 caption data from A53 side data, and text.
using host::kCaptionFormat608;
using host::kCaptionFormat708;
using host::kCaptionFormatText;

inline bool isCaptionFormat(uint32_t format) {
    return format == kCaptionFormat608 || format == kCaptionFormat708 ||
           format == kCaptionFormatText;
}

struct Caption {
    int64_t time = 0;
    uint32_t format = kCaptionFormat708;
    std::vector<uint8_t> data;
    std::string text;
};

// A caption's time in frames of `rateNum`/`rateDen` for a timestamp in
// `timeBaseNum`/`timeBaseDen` units, truncated; a missing timestamp
// (`present` false) is frame 0.
int64_t captionTime(bool present, int64_t timestamp, int64_t timeBaseNum, int64_t timeBaseDen,
                    int64_t rateNum, int64_t rateDen);

// The text of a text-subtitle packet: the payload without the one zero byte
// some demuxers end it with.
std::string captionTextFromPayload(const uint8_t* data, std::size_t size);

// The text of a timed-text (mov_text) sample: a 16-bit big-endian length and
// that many bytes of text, then optional style boxes, which are dropped.
std::string captionTextFromTimedTextSample(const uint8_t* data, std::size_t size);

}  // namespace kestrova
