// The host's audio records: random and sequential reads into host-owned
// float planes, the sequential reset, the channel layout and waveform peaks.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "host.h"

namespace kestrova::hostsim {

// Host-owned planar float buffers, one per channel, pre-filled with `fill`
// so that untouched samples show.
class AudioPlanes {
  public:
    AudioPlanes(int32_t channels, int64_t frames, float fill = 0.0f);
    float** pointers() { return pointers_.data(); }
    std::vector<float>& channel(int32_t c) { return data_[static_cast<std::size_t>(c)]; }
    const std::vector<float>& channel(int32_t c) const {
        return data_[static_cast<std::size_t>(c)];
    }
    int32_t channels() const { return static_cast<int32_t>(data_.size()); }

  private:
    std::vector<std::vector<float>> data_;
    std::vector<float*> pointers_;
};

// imImportAudio7 at sample frame `position`.
host::Result importAudio(const Host& host, void* privateData, int64_t position, uint32_t frames,
                         float** planes);
// imGetSequentialAudio from the clip's own position.
host::Result sequentialAudio(const Host& host, void* privateData, uint32_t frames, float** planes);
host::Result resetSequentialAudio(const Host& host, void* privateData);

struct ChannelLayout {
    host::Result result = host::imFailure;
    std::array<int32_t, 32> labels{};
};
ChannelLayout channelLayout(const Host& host, void* privateData);

// imGetPeakAudio: `frames` peak points from peak frame `start` at `rate`
// points per second, maxima and minima one plane per channel.
host::Result peakAudio(const Host& host, void* privateData, int64_t start, float rate,
                       int32_t frames, float** maxima, float** minima);

}  // namespace kestrova::hostsim
