// The GPU decode path: device set-up, format negotiation and the one-way
// fallback to software that a decoder keeps for the rest of its life.
#pragma once

#include <cstdint>
#include <string>

#include "ffmpeg/ffmpeg_ptr.h"

namespace kestrova {

struct HwDecodeState {
    ffmpeg::BufferRefPtr deviceRef;
    int32_t deviceType = 0;
    int32_t hwPixelFormat = -1;
    bool active = false;
    bool fallenBack = false;
    std::string reason;
};

// A decoder bound to a device for this codec and device type (0: every
// candidate type in order), or null.
const AVCodec* findHardwareNativeDecoder(int32_t codecId, int32_t deviceType);
// Whether the codec's generic decoder takes a device of this type through a
// device context.
bool genericDecoderTakesDevice(int32_t codecId, int32_t deviceType);
[[nodiscard]] bool setupHardwareDevice(HwDecodeState& state, const AVCodec* decoder,
                                       int32_t deviceType);
// The get_format callback; the codec context's opaque is the HwDecodeState.
AVPixelFormat hwGetFormat(AVCodecContext* context, const AVPixelFormat* offered);
void declareFallback(HwDecodeState& state, const std::string& reason);
const char* deviceTypeName(const HwDecodeState& state);
const char* deviceTypeName(int32_t deviceType);

}  // namespace kestrova
