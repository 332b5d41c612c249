// Exact peaks: samples folded into a running minimum and maximum per channel,
// one point per window of samples. The whole-stream build and the range scan
// both read through here, so they agree point for point.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "audio/peak_cache.h"

namespace kestrova {

// Samples per peak point for a sample rate and a point rate: rounded to
// nearest (halves away from zero), at least 1.
int64_t samplesPerWindow(double sampleRate, double pointsPerSecond);
// The first sample of point `start` at `pointRate` points per second
// (truncated), never negative.
int64_t firstSampleOfPoint(int64_t start, double sampleRate, double pointRate);

// Receives one finished point per folded channel, already clamped to [-1, 1].
using PeakEmitter = std::function<void(const std::vector<PeakPoint>& point)>;

class PeakWindowFolder {
  public:
    PeakWindowFolder(int32_t channels, int64_t window);
    // Folds `count` samples of the first channels() planes, emitting every
    // window that completes.
    void fold(const float* const* planes, int64_t count, const PeakEmitter& emit);
    // Emits the partial window when it holds at least one sample.
    void finish(const PeakEmitter& emit);
    int32_t channels() const { return static_cast<int32_t>(point_.size()); }

  private:
    void emitAndRestart(const PeakEmitter& emit);

    int64_t window_;
    int64_t taken_ = 0;
    std::vector<PeakPoint> point_;     // running minimum and maximum
    std::vector<PeakPoint> finished_;  // the clamped point handed out
};

// Reads `count` samples per channel from absolute sample `start` into
// `planes` and returns how many were decoded (0..count).
using SampleReader = std::function<int64_t(int64_t start, int64_t count, float* const* planes)>;

struct FoldRun {
    int64_t samples = 0;       // samples folded
    int64_t emptyReadAt = -1;  // position of a read that delivered nothing
};

// Reads `readChannels` planes from `first` in blocks of up to `block`
// samples until `limit` samples are folded or a read comes up short (its
// samples still count), then finishes the partial window.
FoldRun foldStream(const SampleReader& read, int32_t readChannels, int64_t first, int64_t limit,
                   int64_t block, PeakWindowFolder& folder, const PeakEmitter& emit);

}  // namespace kestrova
