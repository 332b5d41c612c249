#include <algorithm>
#include <array>
#include <utility>

#include "audio/audio_decoder.h"

namespace kestrova {
namespace {

constexpr std::array<std::pair<AVChannel, int32_t>, 38> kLabels{{
    {AV_CHAN_FRONT_LEFT, 100},
    {AV_CHAN_FRONT_RIGHT, 101},
    {AV_CHAN_FRONT_CENTER, 102},
    {AV_CHAN_LOW_FREQUENCY, 103},
    {AV_CHAN_BACK_LEFT, 104},
    {AV_CHAN_BACK_RIGHT, 105},
    {AV_CHAN_FRONT_LEFT_OF_CENTER, 107},
    {AV_CHAN_FRONT_RIGHT_OF_CENTER, 108},
    {AV_CHAN_BACK_CENTER, 106},
    {AV_CHAN_SIDE_LEFT, 109},
    {AV_CHAN_SURROUND_DIRECT_LEFT, 109},
    {AV_CHAN_SIDE_RIGHT, 110},
    {AV_CHAN_SURROUND_DIRECT_RIGHT, 110},
    {AV_CHAN_TOP_CENTER, 111},
    {AV_CHAN_TOP_FRONT_LEFT, 112},
    {AV_CHAN_TOP_FRONT_CENTER, 114},
    {AV_CHAN_TOP_FRONT_RIGHT, 113},
    {AV_CHAN_TOP_BACK_LEFT, 115},
    {AV_CHAN_TOP_BACK_CENTER, 117},
    {AV_CHAN_TOP_BACK_RIGHT, 116},
    {AV_CHAN_STEREO_LEFT, 132},
    {AV_CHAN_STEREO_RIGHT, 133},
    {AV_CHAN_WIDE_LEFT, 118},
    {AV_CHAN_WIDE_RIGHT, 119},
    {AV_CHAN_LOW_FREQUENCY_2, 131},
    {AV_CHAN_TOP_SIDE_LEFT, 127},
    {AV_CHAN_TOP_SIDE_RIGHT, 128},
    {AV_CHAN_BOTTOM_FRONT_CENTER, 139},
    {AV_CHAN_BOTTOM_FRONT_LEFT, 138},
    {AV_CHAN_BOTTOM_FRONT_RIGHT, 140},
    {AV_CHAN_SIDE_SURROUND_LEFT, 129},
    {AV_CHAN_SIDE_SURROUND_RIGHT, 130},
    {AV_CHAN_UNUSED, 0},
    {static_cast<AVChannel>(AV_CHAN_AMBISONIC_BASE + 0), 134},
    {static_cast<AVChannel>(AV_CHAN_AMBISONIC_BASE + 1), 135},
    {static_cast<AVChannel>(AV_CHAN_AMBISONIC_BASE + 2), 136},
    {static_cast<AVChannel>(AV_CHAN_AMBISONIC_BASE + 3), 137},
    {AV_CHAN_NONE, 0},
}};

int32_t hostLabel(AVChannel channel) {
    for (const auto& [ffmpegChannel, label] : kLabels) {
        if (ffmpegChannel == channel) {
            return label;
        }
    }
    return 0;
}

}  // namespace

int32_t channelLabels(const AVChannelLayout& layout, int32_t* labels, int32_t capacity) {
    const int32_t n = std::max(0, std::min(capacity, layout.nb_channels));
    if (layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        // Without an order, only the counts with one usual meaning are named.
        static constexpr int32_t kMono[] = {102};
        static constexpr int32_t kStereo[] = {100, 101};
        static constexpr int32_t kFiveOne[] = {100, 101, 102, 103, 104, 105};
        static constexpr int32_t kSevenOne[] = {100, 101, 102, 103, 104, 105, 109, 110};
        const int32_t* known = layout.nb_channels == 1   ? kMono
                               : layout.nb_channels == 2 ? kStereo
                               : layout.nb_channels == 6 ? kFiveOne
                               : layout.nb_channels == 8 ? kSevenOne
                                                         : nullptr;
        for (int32_t i = 0; i < n; ++i) {
            labels[i] = known ? known[i] : 0;
        }
        return n;
    }
    const auto& fn = ffmpeg::FfmpegRuntime::instance().fn();
    for (int32_t i = 0; i < n; ++i) {
        labels[i] = hostLabel(fn.av_channel_layout_channel_from_index(&layout, i));
    }
    return n;
}

}  // namespace kestrova
