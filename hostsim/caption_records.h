// The host's closed-caption records: starting a scan, walking its captions
// one at a time and completing it, and the text of EIA-608 byte pairs as a
// caption display would show it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host.h"

namespace kestrova::hostsim {

struct CaptionScan {
    host::Result result = host::imFailure;
    void* state = nullptr;
    int64_t frameRateNum = 0;
    int64_t frameRateDen = 0;
    int64_t durationFrames = 0;
};
// imInitiateAsyncClosedCaptionScan for an open clip.
CaptionScan startCaptionScan(const Host& host, void* privateData);

struct NextCaption {
    host::Result result = host::imFailure;
    float progress = 0;
    int64_t frameRateNum = 0;
    int64_t frameRateDen = 0;
    int64_t time = 0;
    uint32_t format = 0;
    // What the size slot said on return.
    uint64_t size = 0;
    // Byte captions: the buffer's first `size` bytes; text captions: the
    // inline field up to its terminator.
    std::vector<uint8_t> data;
    std::string text;
    // Whether the inline text field was zero-terminated within its length.
    bool textTerminated = false;
};
// imGetNextClosedCaption with a host buffer of `capacity` bytes, or with a
// null buffer (a size query) when `capacity` is none.
NextCaption nextCaption(const Host& host, void* scanState, std::optional<uint64_t> capacity);

// imCompleteAsyncClosedCaptionScan; `completed` is the host's flag.
host::Result completeCaptionScan(const Host& host, void* scanState, bool completed);

// A whole walk: the scan, every caption (byte captions fetched with a buffer
// that fits them) and the completion.
struct CaptionWalk {
    CaptionScan scan;
    std::vector<NextCaption> captions;
    host::Result completed = host::imFailure;
};
CaptionWalk walkCaptions(const Host& host, void* privateData);

// The characters of the field-1 EIA-608 pairs in (marker-and-type, byte,
// byte) triplets, parity bits dropped; control codes and padding show
// nothing.
std::string cea608Text(const std::vector<uint8_t>& triplets);

}  // namespace kestrova::hostsim
