#include <algorithm>
#include <array>

#include "audio/audio_entry.h"
#include "audio/audio_selectors.h"
#include "support/logger.h"

namespace kestrova::host {
namespace {

// The most channels a stream may map before its split is copied out.
constexpr int32_t kMaxMappedChannels = 256;

}  // namespace

Result imGetAudioChannelLayoutHandler(void* param1, void* param2) {
    void* record = param2 ? param2 : param1;
    AudioEntry clip(record, layoutrec::kPrivateData, nullptr);
    if (clip.answer) {
        return imUnsupported;
    }
    if (!clip->summaryBuilt) {
        return imUnsupported;
    }
    if (!clip->reopen()) {
        Logger::log(LogLevel::Warning, "imGetAudioChannelLayout: cannot reopen source for %s",
                    clip->path.c_str());
        return imUnsupported;
    }
    if (clip->mappedAudio < 0) {
        Logger::log(LogLevel::Warning, "imGetAudioChannelLayout: no audio stream for %s",
                    clip->path.c_str());
        return imUnsupported;
    }
    const AVFormatContext* format = clip->mainDemuxer.demuxer();
    if (!format || static_cast<unsigned>(clip->mappedAudio) >= format->nb_streams ||
        !format->streams[clip->mappedAudio]->codecpar ||
        format->streams[clip->mappedAudio]->codecpar->ch_layout.nb_channels < 1) {
        return imUnsupported;
    }
    const AVChannelLayout& layout = format->streams[clip->mappedAudio]->codecpar->ch_layout;
    std::array<int32_t, layoutrec::kLabelCount> labels{};
    const StreamSummary& s = clip->summary;
    if (s.splitCount >= 2 && clip->splitIndex >= 0 && clip->splitIndex < s.splitCount) {
        std::array<int32_t, kMaxMappedChannels> all{};
        const int32_t mapped = channelLabels(layout, all.data(), kMaxMappedChannels);
        const SplitChannels split = splitChannels(*clip);
        const int32_t end =
            std::min({split.offset + std::min(split.count, layoutrec::kLabelCount), mapped});
        for (int32_t c = split.offset; c < end; ++c) {
            labels[static_cast<std::size_t>(c - split.offset)] = all[static_cast<std::size_t>(c)];
        }
        Logger::log(LogLevel::Debug,
                    "imGetAudioChannelLayout: mapped channels %d..%d (sub-stream %d/%d) for %s",
                    split.offset, split.offset + split.count - 1, clip->splitIndex, s.splitCount,
                    clip->path.c_str());
    } else {
        const int32_t mapped = channelLabels(layout, labels.data(), layoutrec::kLabelCount);
        Logger::log(LogLevel::Debug,
                    "imGetAudioChannelLayout: mapped %d channels for %s (stream %d)", mapped,
                    clip->path.c_str(), clip->mappedAudio);
    }
    for (int32_t i = 0; i < layoutrec::kLabelCount; ++i) {
        writeField<int32_t>(record, layoutrec::kLabels + static_cast<std::size_t>(i) * 4,
                            labels[static_cast<std::size_t>(i)]);
    }
    return imNoErr;
}

}  // namespace kestrova::host
