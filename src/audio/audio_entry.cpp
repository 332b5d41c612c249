#include "audio/audio_entry.h"

#include <algorithm>

namespace kestrova::host {

AudioEntry::AudioEntry(void* record, std::size_t privateDataOffset, const char* selector)
    : clip_(record, privateDataOffset) {
    if (clip_) {
        return;
    }
    // Only a counted caller may read the instance; a quiet or close is then
    // what turned it away (a faulted clip is refused without a note).
    const bool quietOrClose =
        selector && clip_.counted() && !clip_->failed && (clip_->quieting || clip_->closing);
    answer = quietOrClose ? noteDeclined(*clip_, selector) : imUnsupported;
}

void zeroPlanes(float* const* planes, int32_t channels, int64_t frames) {
    if (!planes || frames <= 0) {
        return;
    }
    for (int32_t c = 0; c < channels; ++c) {
        if (planes[c]) {
            std::fill_n(planes[c], frames, 0.0f);
        }
    }
}

SplitChannels splitChannels(const ClipInstance& clip) {
    const StreamSummary& s = clip.summary;
    const bool split = s.splitCount >= 2 && clip.splitIndex >= 0 && clip.splitIndex < s.splitCount;
    return {split ? kChannelsPerSplit * clip.splitIndex : 0,
            std::max(0, s.channelsOfSplit(clip.splitIndex))};
}

}  // namespace kestrova::host
