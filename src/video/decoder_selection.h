// Whether a clip's video decodes in software or on a GPU backend, decided by
// timing every path on the clip itself and remembered per codec and frame size.
#pragma once

#include <cstdint>
#include <string>

#include "containers/clip_description.h"
#include "video/decode_path_measurement.h"
#include "video/decoder_verdict.h"

namespace kestrova {

// What an examination asks of the machine; the real one decodes the clip.
class DecodePathProbe {
  public:
    virtual ~DecodePathProbe() = default;
    // Whether a backend of this device type can take the codec at all,
    // answered without opening the file.
    virtual bool supports(int32_t deviceType) = 0;
    virtual DecodePathMeasurement measure(bool useHardware, int32_t deviceType) = 0;
    virtual std::string pixelFormatName(int32_t pixelFormat) = 0;
};

// Times software, then every device candidate in order, and decides.
DecoderVerdict examineDecodePaths(const VerdictKey& key, const std::string& codecName,
                                  DecodePathProbe& probe, bool forceHardware);

// The verdict for a video stream of an open description: remembered, or
// examined now and remembered. Software when FFmpeg is not loaded.
DecoderVerdict selectDecoder(const ClipDescription& description, const StreamInfo& stream);

}  // namespace kestrova
