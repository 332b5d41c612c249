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

// Converts the working size of `job` (frame, size, colour, packed buffer)
// into `destination` in `hostFormat`; planes come from `destination` for the
// biplanar formats. False when libswscale refuses the conversion.
bool convertWithSwscale(uint32_t hostFormat, const KernelJob& job,
                        const DestinationBuffers& destination);

}  // namespace kestrova
