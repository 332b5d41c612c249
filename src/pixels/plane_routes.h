// The copy routes: a frame's planes written into host planes of the same
// 4:2:0 family, clamped to the smaller of frame and destination.
#pragma once

#include "pixels/convert.h"

struct AVFrame;

namespace kestrova {

// Runs one of the routes PlanarToPlanar .. BiplanarToPlanar8; false when the
// destination planes the route needs were not supplied.
bool copyPlanes(DeliveryRoute route, const AVFrame& frame, int32_t frameDepth,
                const DestinationBuffers& destination);

// Sets every row of the first `planes` host planes of a 4:2:0 picture
// (chroma planes hold (height + 1) / 2 rows).
void fillPlanes(const DestinationBuffers& destination, int planes, uint8_t value);

}  // namespace kestrova
