// The host's clip records: opening, describing, sizing, quieting and closing
// a clip, each record owned by the host as a byte buffer at the module's
// offsets. Every function may be called from several threads at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host.h"

namespace kestrova::hostsim {

struct OpenAnswer {
    host::Result result = host::imFailure;
    // The private data the module stored in the open record (kept even when
    // the open was declined; the host closes it like any other).
    void* privateData = nullptr;
    void* fileRef = nullptr;
    int64_t extraMemory = 0;
};
// imOpenFile8 for `path` and host stream `stream`; `privateData` reuses an
// instance from an earlier open.
OpenAnswer openFile(const Host& host, const std::string& path, int32_t stream,
                    void* privateData = nullptr);

// An info record as the module filled it.
struct ClipInfo {
    host::Result result = host::imFailure;
    std::vector<uint8_t> bytes;
    bool hasVideo = false;
    bool hasAudio = false;
    int32_t width = 0;
    int32_t height = 0;
    int16_t depth = 0;
    uint32_t subType = 0;
    uint8_t fieldType = 0;
    uint8_t alphaType = 0;
    uint8_t still = 0;
    uint8_t stillDuration = 0;
    int32_t aspectNum = 0;
    int32_t aspectDen = 0;
    int32_t detectionFlags = 0;
    std::string codec;  // empty when the module created no host string
    int32_t hasEmbeddedLut = 0;
    int32_t bitDepth = 0;
    int32_t frameRateNum = 0;
    int32_t frameRateDen = 0;
    int32_t durationFrames32 = 0;
    int64_t durationFrames = 0;
    int32_t channels = 0;
    float sampleRate = 0;
    int32_t sampleType = 0;
    int64_t audioDuration = 0;
    int32_t accessModes = 0;
    uint8_t audioNoDuration = 0;
    uint8_t captionsPossible = 0;
    std::string path;
    std::string settingsId;
};
// imGetInfo8 for host stream `stream` of an open clip. `hostWantsNoDuration`
// is the host's own input byte.
ClipInfo getInfo(const Host& host, void* privateData, int32_t stream,
                 bool hostWantsNoDuration = true);

struct FrameSize {
    host::Result result = host::imFailure;
    int32_t width = 0;
    int32_t height = 0;
};
FrameSize preferredFrameSize(const Host& host, void* privateData, int32_t index);

host::Result quietFile(const Host& host, void* privateData);
host::Result closeFile(const Host& host, void* privateData);

}  // namespace kestrova::hostsim
