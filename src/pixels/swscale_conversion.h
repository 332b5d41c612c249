// Conversions libswscale performs: the Swscale plans, and copies whose
// source layout differs from the destination's.
#pragma once

#include <cstdint>

#include "pixels/conversion_kernels.h"

namespace kestrova {

struct DestinationBuffers;

// Whether libswscale can produce the host format (directly, or through an
// intermediate picture that a packing kernel interleaves).
bool swscaleReaches(uint32_t hostFormat);

// Whether the host format's name promises another colour matrix than the
// clip's (`matrix`) for a YUV source: such a picture is re-encoded under the
// format's matrix through libswscale.
bool matrixChangeNeeded(uint32_t hostFormat, int32_t matrix, const AVPixFmtDescriptor* source);

// Converts the working size of `job` (frame, size, colour, packed buffer)
// into `destination` in `hostFormat`; planes come from `destination` for the
// planar and biplanar formats. False when libswscale refuses the conversion.
bool convertWithSwscale(uint32_t hostFormat, const KernelJob& job,
                        const DestinationBuffers& destination);

}  // namespace kestrova
