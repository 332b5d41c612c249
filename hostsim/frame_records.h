// The host's frame records: asking a clip for its pixel formats, negotiating
// one, reading its colour space, sending source settings and requesting
// frames, each record a byte buffer at the module's offsets.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "host.h"

namespace kestrova::hostsim {

struct PixelFormatAnswer {
    host::Result result = host::imFailure;
    uint32_t format = 0;
};
PixelFormatAnswer getIndPixelFormat(const Host& host, void* privateData, int32_t index);

struct FrameDescriptorAnswer {
    host::Result result = host::imFailure;
    // The output descriptor as the module left it.
    std::array<uint8_t, host::framedescrec::kDescriptorBytes> output{};
    uint32_t format = 0;
    int32_t width = 0;
    int32_t height = 0;
};
// `desiredFormat` 0 states no wish; a size of 0 asks for the clip's.
FrameDescriptorAnswer selectClipFrameDescriptor(const Host& host, void* privateData,
                                                uint32_t desiredFormat, int32_t desiredWidth = 0,
                                                int32_t desiredHeight = 0);

struct ColorSpaceAnswer {
    host::Result result = host::imFailure;
    int32_t kind = 0;
    int32_t iccSize = 0;
    int32_t primaries = 0;
    int32_t transfer = 0;
    int32_t matrix = 0;
    int32_t bitDepth = 0;
    int32_t fullRange = 0;
    int32_t rgb = 0;
    int32_t sceneReferred = 0;
};
// `icc` may be null (the host asks for the profile's size).
ColorSpaceAnswer getIndColorSpace(const Host& host, void* privateData, int32_t index,
                                  uint8_t* icc = nullptr, int32_t iccBytes = 0);

// `settings` is the clip settings record (kClipPrefsBytes), updated in place.
host::Result performSourceSettings(const Host& host, void* privateData, void* settings,
                                   int32_t bytes);

struct SourceVideoAnswer {
    host::Result result = host::imFailure;
    // Owned by the caller, who disposes it through the host's PPix store.
    host::PPixHand ppix = nullptr;
};
// Full quality, for the decoder's quality setting.
inline constexpr int32_t kFullQuality = 3;
SourceVideoAnswer getSourceVideo(const Host& host, void* privateData, int64_t timeTicks,
                                 const std::vector<host::FrameFormat>& acceptable,
                                 int32_t quality = kFullQuality, void* fileRef = nullptr);

// Host ticks of the start of `frame` at num/den frames per second (0 for a
// rate that is not positive); exact where the tick rate allows.
int64_t frameTicks(int64_t frame, int32_t rateNum, int32_t rateDen);

}  // namespace kestrova::hostsim
