// One audio stream's waveform peaks: a minimum and a maximum per channel at a
// fixed number of points per second, answered at any coarser rate and kept
// in a kstpk file beside the media so an unchanged clip is scanned once.
#pragma once

#include <cstdint>
#include <filesystem>
#include <istream>
#include <string>
#include <vector>

#include "video/seek_index.h"

namespace kestrova {

struct PeakPoint {
    float minimum = 0;
    float maximum = 0;
};
static_assert(sizeof(PeakPoint) == 8);

enum class PeakLoadResult : int32_t { Loaded = 0, Unreadable = 2, WrongVersion = 3, Stale = 4 };

inline constexpr int32_t kPeakCacheMaxChannels = 256;
inline constexpr int64_t kPeakCacheMaxPoints = 2'000'000'000;
inline constexpr int64_t kPeakCacheHeaderBytes = 48;

// "<media path>.a<stream>.kstpk" (a negative stream is written as 0); empty
// for an empty media path.
std::filesystem::path peakCachePathFor(const std::string& mediaPath, int32_t audioStreamIndex);

// A value clamped to [-1, 1]; not-a-number becomes 0 so a bad value never
// reaches a waveform.
float clampToUnit(float value);

class PeakCache {
  public:
    [[nodiscard]] PeakLoadResult load(const std::filesystem::path& path,
                                      const ContentState& expected, int32_t requestedStream);
    // The same from an open stream of `size` bytes; `pathText` names it in
    // log lines.
    [[nodiscard]] PeakLoadResult load(std::istream& in, int64_t size, const ContentState& expected,
                                      int32_t requestedStream, const std::string& pathText);
    // Replaces the file at `path` as a whole; false when the cache is empty or
    // the file could not be written (an older file is then left untouched).
    bool save(const std::filesystem::path& path, const ContentState& state) const;

    // Takes the arrays over; they are cut or zero-padded to `channels` arrays
    // of `pointCount` points so the dimensions always describe the data.
    void set(int32_t streamIndex, int32_t channels, float pointsPerSecond, int64_t pointCount,
             std::vector<std::vector<PeakPoint>> points);
    // Resamples to `count` points at `rate` points per second from point
    // `start` of that rate. Fails when the request is malformed or finer than
    // the cache (the caller then scans the range exactly).
    bool query(int64_t start, double rate, int32_t count, int32_t channels, float* const* maxima,
               float* const* minima) const;

    bool empty() const { return channels_ < 1 || pointCount_ < 1; }
    int32_t streamIndex() const { return streamIndex_; }
    int32_t channels() const { return channels_; }
    float pointsPerSecond() const { return pointsPerSecond_; }
    int64_t pointCount() const { return pointCount_; }
    const std::vector<PeakPoint>& points(int32_t channel) const;

  private:
    void clear();

    int32_t streamIndex_ = -1;
    int32_t channels_ = 0;
    float pointsPerSecond_ = 0;
    int64_t pointCount_ = 0;
    std::vector<std::vector<PeakPoint>> points_;
};

}  // namespace kestrova
