// Whether a trim keeps the pictures of a clip's video in their order.
#pragma once

#include <string_view>

#include "containers/clip_description.h"

namespace kestrova::fileops {

// The MXF muxer rebuilds the display order of its index from the pictures'
// own headers, whose temporal references still count the leading pictures
// of an open GOP that a trim drops: such a trim would show other pictures
// than the source. Only intra-only video is trimmed into MXF.
bool trimKeepsPictureOrder(std::string_view muxer, const ClipDescription& clip);

}  // namespace kestrova::fileops
