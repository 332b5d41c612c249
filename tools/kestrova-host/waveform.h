// A waveform picture from peak data: one lane per channel, each pixel column
// spanning the minimum to the maximum of the points it covers.
#pragma once

#include <cstdint>
#include <vector>

#include "picture_view.h"

namespace kestrova::cli {

struct ChannelPeaks {
    const float* maxima = nullptr;
    const float* minima = nullptr;
};

hostsim::RgbImage drawWaveform(const std::vector<ChannelPeaks>& channels, int64_t points,
                               int32_t width);

}  // namespace kestrova::cli
