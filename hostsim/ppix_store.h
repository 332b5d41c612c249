// The host's live frame buffers and its frame cache. A PPix is counted: the
// creator holds one reference, the cache holds its own, and a cache hit hands
// out another; each holder disposes its reference once.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <tuple>

#include "host/host_api.h"
#include "ppix_buffers.h"

namespace kestrova::hostsim {

struct HostCacheStats {
    int64_t hits = 0;
    int64_t misses = 0;
    int64_t adds = 0;
    std::size_t entries = 0;
};

class PPixStore {
  public:
    // Answers an error, and writes null, for a format or size no buffer can have.
    host::Result create(uint32_t format, int32_t width, int32_t height,
                        const PPixCreatorFields& creator, host::PPixHand* out);
    host::Result dispose(host::PPixHand ppix);
    // Null unless `ppix` is live. Valid until its last reference is disposed.
    const PPixBuffer* find(host::PPixHand ppix) const;
    std::size_t live() const;
    int64_t created() const;
    // Disposals of handles that were not live.
    int32_t badDisposals() const;

    // Keeps up to `buffers` released buffers and hands them out again for the
    // same format and size, as a playing host's buffer pool does; off (0) by
    // default, so every new PPix starts filled with the host's fill byte.
    void setRecycling(std::size_t buffers);

    // Switched off, lookups miss and adds store nothing (both still count).
    void setCacheEnabled(bool enabled);
    // Like a real host's, the cache holds at most this many bytes of
    // pictures; the oldest additions leave first (default 1 GiB).
    void setCacheBudget(std::size_t bytes);
    // Drops the cache's references.
    void clearCache();
    host::Result addToCache(int32_t importerId, int32_t stream, host::PPixHand ppix, int64_t frame);
    // Hits on the first entry of `formats` cached for the frame whose format
    // (and size, where the entry gives one) matches.
    host::Result findInCache(int32_t importerId, int32_t stream, int64_t frame,
                             std::span<const host::FrameFormat> formats, host::PPixHand* out);
    HostCacheStats cacheStats() const;

  private:
    struct Live {
        std::unique_ptr<PPixBuffer> buffer;
        int32_t references = 0;
    };
    using CacheKey = std::tuple<int32_t, int32_t, int64_t, uint32_t>;
    // Both are called with mutex_ held. False (and counted) when `ppix` is
    // not live.
    bool release(host::PPixHand ppix);
    void dropCached(std::map<CacheKey, host::PPixHand>::iterator entry);
    // A released buffer of this format and size, or null; takes mutex_.
    std::unique_ptr<PPixBuffer> takeRecycled(uint32_t format, int32_t width, int32_t height);

    mutable std::mutex mutex_;
    std::map<host::PPixHand, Live> live_;
    std::deque<std::unique_ptr<PPixBuffer>> recycled_;
    std::size_t recycleLimit_ = 0;
    int64_t created_ = 0;
    int32_t badDisposals_ = 0;
    bool cacheEnabled_ = true;
    std::map<CacheKey, host::PPixHand> cache_;
    std::deque<CacheKey> cacheOrder_;  // oldest addition first
    std::size_t cacheBudget_ = std::size_t{1} << 30;
    std::size_t cacheBytes_ = 0;
    HostCacheStats stats_;
};

}  // namespace kestrova::hostsim
