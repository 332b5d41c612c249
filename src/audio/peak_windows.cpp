#include "audio/peak_windows.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrova {
namespace {

// Doubles hold every integer up to here exactly.
constexpr double kLargestExactSample = 9007199254740992.0;  // 2^53
// One block of every channel stays within 16 MiB of floats, whatever the
// window; blocks only pace the reads, so their size never changes a point.
constexpr int64_t kBlockFloats = int64_t{1} << 22;

}  // namespace

int64_t samplesPerWindow(double sampleRate, double pointsPerSecond) {
    const double ratio = sampleRate / pointsPerSecond;
    if (!(ratio >= 1)) {
        return 1;
    }
    return std::max<int64_t>(1, std::lround(std::min(ratio, kLargestExactSample)));
}

int64_t firstSampleOfPoint(int64_t start, double sampleRate, double pointRate) {
    const double first = std::trunc(static_cast<double>(start) * sampleRate / pointRate);
    if (!(first > 0)) {
        return 0;
    }
    return static_cast<int64_t>(std::min(first, kLargestExactSample));
}

PeakWindowFolder::PeakWindowFolder(int32_t channels, int64_t window)
    : window_(std::max<int64_t>(window, 1)),
      point_(static_cast<std::size_t>(std::max(channels, 0))),
      finished_(point_.size()) {
    for (PeakPoint& running : point_) {
        running = {std::numeric_limits<float>::max(), std::numeric_limits<float>::lowest()};
    }
}

void PeakWindowFolder::fold(const float* const* planes, int64_t count, const PeakEmitter& emit) {
    for (int64_t done = 0; done < count;) {
        const int64_t piece = std::min(count - done, window_ - taken_);
        for (std::size_t c = 0; c < point_.size(); ++c) {
            if (!planes[c]) {
                continue;
            }
            const float* samples = planes[c] + done;
            float low = point_[c].minimum;
            float high = point_[c].maximum;
            for (int64_t i = 0; i < piece; ++i) {
                low = std::min(low, samples[i]);
                high = std::max(high, samples[i]);
            }
            point_[c] = {low, high};
        }
        taken_ += piece;
        done += piece;
        if (taken_ == window_) {
            emitAndRestart(emit);
        }
    }
}

void PeakWindowFolder::finish(const PeakEmitter& emit) {
    if (taken_ > 0) {
        emitAndRestart(emit);
    }
}

void PeakWindowFolder::emitAndRestart(const PeakEmitter& emit) {
    for (std::size_t c = 0; c < point_.size(); ++c) {
        finished_[c] = {clampToUnit(point_[c].minimum), clampToUnit(point_[c].maximum)};
        point_[c] = {std::numeric_limits<float>::max(), std::numeric_limits<float>::lowest()};
    }
    taken_ = 0;
    emit(finished_);
}

FoldRun foldStream(const SampleReader& read, int32_t readChannels, int64_t first, int64_t limit,
                   int64_t block, PeakWindowFolder& folder, const PeakEmitter& emit) {
    FoldRun run;
    const int32_t planes = std::max(readChannels, folder.channels());
    block = std::clamp<int64_t>(block, 1, std::max<int64_t>(1, kBlockFloats / std::max(planes, 1)));
    std::vector<std::vector<float>> buffers(static_cast<std::size_t>(planes),
                                            std::vector<float>(static_cast<std::size_t>(block)));
    std::vector<float*> pointers;
    for (std::vector<float>& buffer : buffers) {
        pointers.push_back(buffer.data());
    }
    for (int64_t position = first; run.samples < limit;) {
        const int64_t wanted = std::min(limit - run.samples, block);
        const int64_t got = std::clamp<int64_t>(read(position, wanted, pointers.data()), 0, wanted);
        if (got == 0) {
            run.emptyReadAt = position;
            break;
        }
        folder.fold(pointers.data(), got, emit);
        run.samples += got;
        position += got;
        if (got < wanted) {
            break;
        }
    }
    folder.finish(emit);
    return run;
}

}  // namespace kestrova
