// The pixel facts of a stream summary: field order, alpha mode, bit depth,
// colour tags with their defaults, range and HDR.
#pragma once

#include <cstdint>
#include <string>

#include "pixels/pixel_enums.h"

namespace kestrova {

struct ColourTags {
    int32_t primaries = 2;
    int32_t transfer = 2;
    int32_t matrix = 2;
    bool tagged = false;   // all three came from the stream
    bool guessed = false;  // a default filled a gap
};
// Fills unspecified (2) primaries, transfer and matrix from the other tags
// and the coded height.
ColourTags applyColourDefaults(int32_t primaries, int32_t transfer, int32_t matrix,
                               int32_t codedHeight);

// FFmpeg's field order as the host's; Unknown when FFmpeg does not say.
FieldOrder fieldOrderFromFfmpeg(int32_t ffmpegFieldOrder);

// Codecs that are progressive by construction and never probed.
bool isProgressiveOnlyCodec(int32_t codecId);

// Alpha of a stream whose pixel format has (or lacks) an alpha channel,
// from its "alpha_mode" and "premultiplied_alpha" metadata values.
AlphaMode alphaModeFor(bool formatHasAlpha, const std::string& alphaModeTag,
                       const std::string& premultipliedTag, bool& assumed);

// Depth of the first component, 8 when FFmpeg does not describe the format.
int32_t bitDepthOf(int32_t pixelFormat);
bool pixelFormatHasAlpha(int32_t pixelFormat);

inline bool isHdrTransfer(int32_t transfer) {
    return transfer == 16 || transfer == 18;
}

}  // namespace kestrova
