#include "host/stream_mapping.h"

#include <algorithm>
#include <vector>

namespace kestrova::host {
namespace {

std::vector<int32_t> indicesOf(const std::vector<const StreamInfo*>& streams) {
    std::vector<int32_t> indices;
    for (const StreamInfo* stream : streams) {
        indices.push_back(stream->index);
    }
    return indices;
}

}  // namespace

int32_t hostStreamCount(int32_t videoCount, int32_t audioCount) {
    if (videoCount > 0) {
        return videoCount + (audioCount >= 2 ? audioCount - 1 : 0);
    }
    return std::max(audioCount, 1);
}

StreamMapping mapHostStream(int32_t index, const ClipDescription& description) {
    return mapHostStream(index, indicesOf(description.videoStreams()),
                         indicesOf(description.audioStreams()));
}

int32_t hostStreamCount(const ClipDescription& description) {
    return hostStreamCount(static_cast<int32_t>(description.videoStreams().size()),
                           static_cast<int32_t>(description.audioStreams().size()));
}

}  // namespace kestrova::host
