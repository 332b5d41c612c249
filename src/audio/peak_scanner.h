// Fills peak data three ways: an exact scan of a whole stream into a cache,
// an exact scan of one requested range straight into the caller's arrays,
// and an approximate build of several streams from one demux pass without
// decoding.
#pragma once

#include <cstdint>
#include <vector>

#include "audio/audio_decoder.h"
#include "audio/peak_cache.h"
#include "containers/clip_description.h"

namespace kestrova {

struct ApproxPeakStream {
    int32_t streamIndex = -1;
    int32_t channels = 0;
};

class PeakScanner {
  public:
    static bool buildCache(AudioDecoder& decoder, int32_t streamIndex, float pointsPerSecond,
                           PeakCache& out);
    // Exact peaks of `count` points at `rate` points per second from point
    // `start`; points the stream does not reach stay 0.
    static bool scanRange(AudioDecoder& decoder, int64_t start, double rate, int32_t count,
                          int32_t channels, float* const* maxima, float* const* minima);
    // One demux pass over `streams`; `caches` gets one entry per listed
    // stream, in order (empty for a stream left out).
    static bool buildApproxCacheMulti(const ClipDescription& demuxer,
                                      const std::vector<ApproxPeakStream>& streams,
                                      float pointsPerSecond, std::vector<PeakCache>& caches);
};

}  // namespace kestrova
