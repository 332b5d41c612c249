#include "host/stream_mapping.h"

#include <algorithm>
#include <vector>

#include "host/stream_summary.h"

namespace kestrova::host {
namespace {

std::vector<int32_t> indicesOf(const std::vector<const StreamInfo*>& streams) {
    std::vector<int32_t> indices;
    for (const StreamInfo* stream : streams) {
        indices.push_back(stream->index);
    }
    return indices;
}

struct AudioSlot {
    int32_t stream = -1;
    int32_t split = 0;
};

// Each decodable audio stream, once per group of 32 channels.
std::vector<AudioSlot> audioSlotsOf(const ClipDescription& description) {
    std::vector<AudioSlot> slots;
    for (const StreamInfo* stream : description.audioStreams()) {
        for (int32_t split = 0; split < splitCountFor(stream->channels); ++split) {
            slots.push_back({stream->index, split});
        }
    }
    return slots;
}

}  // namespace

int32_t hostStreamCount(int32_t videoCount, int32_t audioCount) {
    if (videoCount > 0) {
        return videoCount + (audioCount >= 2 ? audioCount - 1 : 0);
    }
    return std::max(audioCount, 1);
}

StreamMapping mapHostStream(int32_t index, const ClipDescription& description) {
    const std::vector<AudioSlot> slots = audioSlotsOf(description);
    std::vector<int32_t> slotNumbers(slots.size());
    for (std::size_t i = 0; i < slots.size(); ++i) {
        slotNumbers[i] = static_cast<int32_t>(i);
    }
    StreamMapping mapping =
        mapHostStream(index, indicesOf(description.videoStreams()), slotNumbers);
    if (mapping.audio >= 0) {
        const AudioSlot slot = slots[static_cast<std::size_t>(mapping.audio)];
        mapping.audio = slot.stream;
        mapping.split = slot.split;
    }
    return mapping;
}

int32_t hostStreamCount(const ClipDescription& description) {
    return hostStreamCount(static_cast<int32_t>(description.videoStreams().size()),
                           static_cast<int32_t>(audioSlotsOf(description).size()));
}

}  // namespace kestrova::host
