#include "waveform.h"

#include <algorithm>
#include <array>

namespace kestrova::cli {
namespace {

using Colour = std::array<uint8_t, 3>;
constexpr Colour kBackground = {22, 24, 30};
constexpr Colour kCentreLine = {70, 74, 86};
constexpr Colour kLaneBorder = {46, 48, 58};
constexpr Colour kWave = {96, 206, 150};

// Lanes shrink with many channels so 32 still fit a screen.
int32_t laneHeight(std::size_t channels) {
    return channels <= 2 ? 160 : std::max(40, 640 / static_cast<int32_t>(channels));
}

void paint(hostsim::RgbImage& image, int32_t x, int32_t y, const Colour& colour) {
    uint8_t* pixel = image.rgb.data() + (static_cast<std::size_t>(y) * image.width + x) * 3;
    std::copy(colour.begin(), colour.end(), pixel);
}

// Row of `value` (clamped to -1..1) in a lane from `top`, +1 at the top.
int32_t rowOf(float value, int32_t top, int32_t height) {
    const float clamped = std::clamp(value, -1.0f, 1.0f);
    return top +
           static_cast<int32_t>((1.0f - clamped) * 0.5f * static_cast<float>(height - 1) + 0.5f);
}

}  // namespace

hostsim::RgbImage drawWaveform(const std::vector<ChannelPeaks>& channels, int64_t points,
                               int32_t width) {
    const int32_t lane = laneHeight(channels.size());
    hostsim::RgbImage image;
    image.width = width;
    image.height = lane * static_cast<int32_t>(std::max<std::size_t>(channels.size(), 1));
    image.rgb.resize(static_cast<std::size_t>(image.width) * image.height * 3);
    for (int32_t y = 0; y < image.height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            paint(image, x, y, y % lane == 0 ? kLaneBorder : kBackground);
        }
    }
    for (std::size_t c = 0; c < channels.size(); ++c) {
        const int32_t top = lane * static_cast<int32_t>(c) + 1;
        const int32_t height = lane - 1;
        for (int32_t x = 0; x < width; ++x) {
            paint(image, x, rowOf(0.0f, top, height), kCentreLine);
            const int64_t first = x * points / width;
            const int64_t end = std::max(first + 1, (x + 1) * points / width);
            if (first >= points) {
                continue;
            }
            float high = -1.0f, low = 1.0f;
            for (int64_t p = first; p < std::min(end, points); ++p) {
                high = std::max(high, channels[c].maxima[p]);
                low = std::min(low, channels[c].minima[p]);
            }
            if (low > high) {
                continue;
            }
            for (int32_t y = rowOf(high, top, height); y <= rowOf(low, top, height); ++y) {
                paint(image, x, y, kWave);
            }
        }
    }
    return image;
}

}  // namespace kestrova::cli
