#include "audio/byte_rate_peaks.h"

#include <algorithm>
#include <queue>

extern "C" {
#include <libavutil/avutil.h>
}

namespace kestrova {

ByteRatePeaks::ByteRatePeaks(int64_t window, int64_t start, int64_t maxWindows)
    : window_(std::max<int64_t>(window, 1)), start_(start), maxWindows_(maxWindows) {}

void ByteRatePeaks::add(int64_t pts, int64_t dts, int64_t duration, int64_t size) {
    if (size <= 0) {
        return;
    }
    const int64_t stamp = pts != AV_NOPTS_VALUE ? pts : dts != AV_NOPTS_VALUE ? dts : 0;
    const int64_t ticks = duration > 0 ? duration : window_;
    int64_t position = 0;
    int64_t end = 0;
    if (__builtin_sub_overflow(stamp, start_, &position) ||
        __builtin_add_overflow(position, ticks - 1, &end)) {
        return;
    }
    int64_t last = end / window_;
    if (last < 0) {
        return;
    }
    const int64_t first = std::max<int64_t>(0, position / window_);
    if (last >= maxWindows_) {
        truncated_ = true;
        if (first >= maxWindows_) {
            return;
        }
        last = maxWindows_ - 1;
    }
    const double rate = static_cast<double>(size) / static_cast<double>(ticks);
    spans_.push_back({first, last, rate});
    windows_ = std::max(windows_, last + 1);
    loudest_ = std::max(loudest_, rate);
}

std::vector<PeakPoint> ByteRatePeaks::points() const {
    std::vector<PeakPoint> points(static_cast<std::size_t>(windows_));
    if (!(loudest_ > 0)) {
        return points;
    }
    // Sweep the windows in order, keeping the spans that cover the current
    // one in a heap by rate: each window takes the largest covering rate.
    std::vector<Span> spans = spans_;
    std::sort(spans.begin(), spans.end(),
              [](const Span& a, const Span& b) { return a.first < b.first; });
    const auto quieter = [](const Span& a, const Span& b) { return a.rate < b.rate; };
    std::priority_queue<Span, std::vector<Span>, decltype(quieter)> covering(quieter);
    std::size_t next = 0;
    for (int64_t w = 0; w < windows_; ++w) {
        for (; next < spans.size() && spans[next].first <= w; ++next) {
            covering.push(spans[next]);
        }
        while (!covering.empty() && covering.top().last < w) {
            covering.pop();
        }
        if (!covering.empty()) {
            const auto a = static_cast<float>(std::clamp(covering.top().rate / loudest_, 0.0, 1.0));
            points[static_cast<std::size_t>(w)] = {-a, a};
        }
    }
    return points;
}

}  // namespace kestrova
