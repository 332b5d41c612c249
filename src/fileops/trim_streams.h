// Which streams a trim is measured on, and whether its container keeps them
// in order.
#pragma once

#include <cstdint>
#include <string_view>

#include "containers/clip_description.h"

namespace kestrova::fileops {

// The video stream a trim is measured on and its check snaps to: the clip's
// mapped stream when it decodes, else the first video stream that does;
// never cover art, which is one picture and not a span. -1 when there is none.
int32_t trimVideoStream(const ClipDescription& clip, int32_t mappedVideo);

// The MXF muxer rebuilds the display order of its index from the pictures'
// own headers, whose temporal references still count the leading pictures
// of an open GOP that a trim drops: such a trim would show other pictures
// than the source. Only intra-only video is trimmed into MXF.
bool trimKeepsPictureOrder(std::string_view muxer, const ClipDescription& clip);

}  // namespace kestrova::fileops
