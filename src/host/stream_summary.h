// The condensed description of one host stream that the selectors and the
// frame path work from.
#pragma once

#include <cstdint>
#include <string>

#include "containers/clip_description.h"
#include "pixels/pixel_enums.h"

namespace kestrova::host {

// Stream choices: an FFmpeg index, the first importable stream of the kind,
// or none.
inline constexpr int32_t kFirstImportable = -1;
inline constexpr int32_t kNoStream = -2;

// Host audio streams carry at most this many channels; wider streams are
// split into groups of it.
inline constexpr int32_t kChannelsPerSplit = 32;
inline int32_t splitCountFor(int32_t channels) {
    return channels > kChannelsPerSplit ? (channels + kChannelsPerSplit - 1) / kChannelsPerSplit
                                        : 1;
}

struct StreamSummary {
    bool hasVideo = false;
    bool hasAudio = false;
    int32_t videoStream = -1;
    int32_t audioStream = -1;
    int32_t width = 0;
    int32_t height = 0;
    int32_t aspectNum = 1;
    int32_t aspectDen = 1;
    bool aspectMissing = false;
    int32_t frameRateNum = 0;
    int32_t frameRateDen = 0;
    int64_t durationFrames = 0;
    bool still = false;
    bool noDuration = false;
    int32_t channels = 0;
    double sampleRate = 0;
    int64_t audioDuration = 0;
    int32_t sampleType = 0;
    bool canAvoidConform = false;
    int32_t splitCount = 1;
    std::string codecDescription;
    std::string title;
    // Pixel facts.
    FieldOrder fieldOrder = FieldOrder::Progressive;
    bool fieldOrderAssumed = false;
    AlphaMode alphaMode = AlphaMode::Opaque;
    bool alphaAssumed = false;
    int32_t bitDepth = 8;
    int32_t primaries = 2;
    int32_t transfer = 2;
    int32_t matrix = 2;
    bool fullRange = false;
    bool colourGuessed = false;
    bool hdr = false;
    bool sceneReferred = false;

    // Channels carried by split `index` of a track wider than 32 channels.
    int32_t channelsOfSplit(int32_t index) const;
};

// The host's field code of a field order: 1 upper first, 2 lower first, 0
// otherwise.
inline int32_t hostFieldCode(FieldOrder order) {
    return order == FieldOrder::UpperFirst ? 1 : order == FieldOrder::LowerFirst ? 2 : 0;
}

// Builds the summary for the chosen streams of an open description. An
// unknown field order is probed on a private decoder.
StreamSummary buildStreamSummary(const ClipDescription& description, int32_t videoChoice,
                                 int32_t audioChoice);

// The summary of mapped streams: an FFmpeg index each, negative for none.
StreamSummary summaryForStreams(const ClipDescription& description, int32_t video, int32_t audio);

// The host's sample type code for an audio stream.
int32_t audioSampleType(int32_t codecId, int32_t sampleFormat, int32_t bitsPerRawSample);
// Codec name, profile and level as the host shows them.
std::string codecDescription(const StreamInfo& video);

}  // namespace kestrova::host
