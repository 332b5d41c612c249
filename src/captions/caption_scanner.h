// A clip's captions, collected once from the A53 side data of its decoded
// video and from its caption and text-subtitle streams (or from the caption
// cache), then handed to the host one at a time.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "captions/caption.h"
#include "captions/caption_cache.h"
#include "video/seek_index.h"

struct AVFormatContext;

namespace kestrova {

// Codecs whose pictures can carry A53 caption side data.
bool carriesA53Captions(int32_t codecId);

class CaptionScanner {
  public:
    // The cached captions of `mediaPath` for video stream `videoStream` (-1:
    // none) in `state`, else a fresh scan, saved to the cache unless reading
    // failed. True when at least one caption is held.
    bool scan(const std::string& mediaPath, int32_t videoStream, const ContentState& state);

    // The caption at the cursor, advancing it; none once the walk is done.
    // `progress` is the fraction walked after advancing.
    std::optional<Caption> takeNext(float& progress);

    const std::vector<Caption>& captions() const { return content_.captions; }
    int64_t frameRateNum() const { return content_.frameRateNum; }
    int64_t frameRateDen() const { return content_.frameRateDen; }
    int64_t estimatedDurationFrames() const { return content_.estimatedDurationFrames; }
    bool scanError() const { return scanError_; }

  private:
    // The timestamp of the clip's frame 0 in the time base `timeBaseNum/Den`.
    int64_t clipStartIn(int32_t timeBaseNum, int32_t timeBaseDen) const;
    void scanMedia(AVFormatContext* format, int32_t videoStream);
    void scanVideo(AVFormatContext* format, int32_t videoStream);
    void scanSubtitles(AVFormatContext* format);

    CaptionCacheContent content_;
    // Where the clip's frame 0 stands: the video stream's start, from which
    // the decoder counts frames; without video, the container's start.
    int64_t startTimestamp_ = 0;
    int32_t startTimeBaseNum_ = 1;
    int32_t startTimeBaseDen_ = 1;
    uint64_t cursor_ = 0;
    std::mutex lock_;
    bool scanError_ = false;
};

}  // namespace kestrova
