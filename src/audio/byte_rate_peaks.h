// Approximate peaks without decoding: a packet's bytes per tick stand for its
// loudness over every window it overlaps, and the loudest window is full
// scale. Compressed audio spends more bytes on louder, busier passages.
#pragma once

#include <cstdint>
#include <vector>

#include "audio/peak_cache.h"

namespace kestrova {

class ByteRatePeaks {
  public:
    // `window`: ticks of the stream's time base per point (above 0);
    // `start`: the stream's start time; windows beyond `maxWindows` are
    // dropped.
    ByteRatePeaks(int64_t window, int64_t start, int64_t maxWindows);

    // One packet: pts, else dts, else 0 places it (the no-timestamp value
    // means unset); a duration not above 0 counts as one window.
    void add(int64_t pts, int64_t dts, int64_t duration, int64_t size);

    int64_t windows() const { return windows_; }
    double loudest() const { return loudest_; }
    // Whether a packet reached beyond `maxWindows`.
    bool truncated() const { return truncated_; }
    // One point (-a, a) per window, a = the window's rate / the loudest.
    std::vector<PeakPoint> points() const;

  private:
    struct Span {
        int64_t first;
        int64_t last;
        double rate;
    };

    int64_t window_;
    int64_t start_;
    int64_t maxWindows_;
    int64_t windows_ = 0;
    double loudest_ = 0;
    bool truncated_ = false;
    // Kept per packet and resolved at the end, so a packet spanning many
    // windows costs no more than one spanning a single window.
    std::vector<Span> spans_;
};

}  // namespace kestrova
