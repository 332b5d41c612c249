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

// Whether the plan's format promises another colour matrix than the clip's
// for a YUV source, and libswscale can write the format: such a picture is
// re-encoded under the format's matrix instead of copied or packed.
bool reencodedBySwscale(const TargetPlan& plan, const AVPixFmtDescriptor* source);

// Converts the working size of `job` (frame, size, colour, packed buffer)
// into `destination` in `hostFormat`; planes come from `destination` for the
// planar and biplanar formats. False when libswscale refuses the conversion.
bool convertWithSwscale(uint32_t hostFormat, const KernelJob& job,
                        const DestinationBuffers& destination);

}  // namespace kestrova
