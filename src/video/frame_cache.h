// Decoded frames kept by frame index within a byte budget, least recently
// used evicted first. Not locked: each owner guards its cache.
#pragma once

#include <cstdint>
#include <list>
#include <unordered_map>

#include "ffmpeg/ffmpeg_ptr.h"

namespace kestrova {

inline constexpr uint64_t kDefaultFrameCacheBudget = 134217728;

// The bytes a frame holds: its reference-counted buffers, or an estimate from
// its line sizes when its planes are not reference counted.
uint64_t estimateFrameBytes(const AVFrame* frame);

class FrameCache {
  public:
    FrameCache() = default;
    FrameCache(const FrameCache&) = delete;
    FrameCache& operator=(const FrameCache&) = delete;

    // The cached frame, still owned by the cache, or null.
    const AVFrame* lookup(int64_t frameIndex);
    // A new reference the caller owns, or null.
    ffmpeg::FramePtr lookupRef(int64_t frameIndex);
    // The bytes stored, 0 when the frame was not cached.
    uint64_t store(int64_t frameIndex, const AVFrame* frame);
    void setBudget(uint64_t bytes);
    void clear();
    // Neither counts nor reorders.
    bool contains(int64_t frameIndex) const { return map_.count(frameIndex) != 0; }

    uint64_t budget() const { return budgetBytes_; }
    uint64_t totalBytes() const { return totalBytes_; }
    std::size_t size() const { return lru_.size(); }
    uint64_t hits() const { return hits_; }
    uint64_t misses() const { return misses_; }

  private:
    struct Entry {
        int64_t frameIndex;
        ffmpeg::FramePtr frame;
        uint64_t bytes;
    };
    using Position = std::list<Entry>::iterator;

    // The entry moved to the front, or null on a miss; counts either way.
    Entry* touch(int64_t frameIndex);
    // Evicts from the back until `incoming` more bytes fit the budget.
    void makeRoom(uint64_t incoming);
    // Takes the entry out of the cache, handing its frame to the caller.
    ffmpeg::FramePtr remove(Position position);

    uint64_t budgetBytes_ = kDefaultFrameCacheBudget;
    uint64_t totalBytes_ = 0;
    std::list<Entry> lru_;
    std::unordered_map<int64_t, Position> map_;
    uint64_t hits_ = 0;
    uint64_t misses_ = 0;
};

}  // namespace kestrova
