// Whether a clip's video decodes in software or on a GPU backend.
#pragma once

#include <cstdint>
#include <string>

#include "containers/clip_description.h"

namespace kestrova {

struct DecoderVerdict {
    bool useHardware = false;
    int32_t deviceType = 0;
    std::string deviceName = "software";
    double chosenMsPerFrame = 0;
    double softwareMsPerFrame = 0;
    bool measured = false;
};

// The verdict for a video stream of an open description. Software until
// decoding is measured per codec and frame size.
DecoderVerdict selectDecoder(const ClipDescription& description, const StreamInfo& stream);

}  // namespace kestrova
