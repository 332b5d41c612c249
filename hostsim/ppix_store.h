// The host's live frame buffers and its frame cache. A PPix is counted: the
// creator holds one reference, the cache holds its own, and a cache hit hands
// out another; each holder disposes its reference once.
#pragma once

#include <cstdint>
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

    // Switched off, every lookup misses; adds are still stored, so switching
    // it on again serves what was added meanwhile.
    void setCacheEnabled(bool enabled);
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
    void release(host::PPixHand ppix);  // the caller holds mutex_

    mutable std::mutex mutex_;
    std::map<host::PPixHand, Live> live_;
    int64_t created_ = 0;
    int32_t badDisposals_ = 0;
    bool cacheEnabled_ = true;
    std::map<CacheKey, host::PPixHand> cache_;
    HostCacheStats stats_;
};

}  // namespace kestrova::hostsim
