// Pieces of the clip's analysis text that depend on plain numbers only.
#pragma once

#include <cstdint>
#include <string>

#include "containers/clip_description.h"

namespace kestrova::host {

// "1.50 GB", "12.00 MB", "3.00 KB" or "100 bytes" (binary units).
std::string fileSizeText(uint64_t bytes);
// "H:MM:SS.mmm" of a positive duration in microseconds.
std::string durationText(int64_t microseconds);
// "Average Data Rate: N kbit/s" line of a file size over a positive duration.
std::string dataRateLine(uint64_t bytes, int64_t microseconds);
// The mastering, light level and dynamic metadata lines; empty when the clip
// carries none of them.
std::string hdrMetadataText(const HdrMetadata& hdr);
// "video", "audio", "data", "subtitle" for FFmpeg media types 0 to 3, else "other".
const char* mediaTypeName(int32_t mediaType);

}  // namespace kestrova::host
