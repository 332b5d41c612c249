// Times one decode path (software, or one GPU device type) on a clip itself,
// the copy back to system memory included.
#pragma once

#include <cstdint>
#include <string>

namespace kestrova {

struct DecodePathMeasurement {
    // Milliseconds per frame, or -1 when the path could not decode.
    double msPerFrame = -1;
    bool hardwareActive = false;
    // The format of the frames as read back; -1 before any frame.
    int32_t pixelFormat = -1;
    std::string detail;
};

// Decodes one untimed frame and then up to eight timed ones through a
// private demuxer and decoder.
DecodePathMeasurement measureDecodePath(const std::string& mediaPath, int32_t streamIndex,
                                        bool useHardware, int32_t deviceType);

}  // namespace kestrova
