// The caption cache file beside the media ("<media path>.kstcc"): a scan's
// captions, kept so that an unchanged file is never scanned twice.
#pragma once

#include <cstdint>
#include <filesystem>
#include <istream>
#include <string>
#include <vector>

#include "captions/caption.h"
#include "video/seek_index.h"

namespace kestrova {

// The load statuses every cache reader of the plug-in shares.
using CaptionCacheStatus = SeekIndexLoadStatus;

inline constexpr uint32_t kCaptionCacheMaxCount = 5'000'000;
inline constexpr uint32_t kCaptionCacheMaxFieldBytes = 0x100000;

// What a cache holds besides its key: the scan's frame rate, its duration
// estimate and the captions in time order.
struct CaptionCacheContent {
    int64_t frameRateNum = 30000;
    int64_t frameRateDen = 1001;
    int64_t estimatedDurationFrames = 0;
    std::vector<Caption> captions;
};

// "<media path>.kstcc"; empty for an empty media path.
std::filesystem::path captionCachePathFor(const std::string& mediaPath);

// Reads a cache made for media in `expected` whose video stream `videoStream`
// was scanned. `out` is only replaced on "Ok".
[[nodiscard]] CaptionCacheStatus loadCaptionCache(const std::filesystem::path& path,
                                                  const ContentState& expected, int32_t videoStream,
                                                  CaptionCacheContent& out);
[[nodiscard]] CaptionCacheStatus loadCaptionCache(std::istream& in, const ContentState& expected,
                                                  int32_t videoStream, CaptionCacheContent& out);

// The file's bytes for `content`, scanned from video stream `videoStream` of
// media in `state`.
std::string captionCacheBytes(const CaptionCacheContent& content, const ContentState& state,
                              int32_t videoStream);

// Replaces the file at `path` as a whole; false (an older file then stays)
// when it cannot be written.
bool saveCaptionCache(const std::filesystem::path& path, const CaptionCacheContent& content,
                      const ContentState& state, int32_t videoStream);

}  // namespace kestrova
