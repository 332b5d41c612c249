// A background thread that decodes the frames just ahead of the host's
// requests, in the direction of travel, with its own demuxer and decoder,
// into a frame cache it borrows from its owner.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "containers/clip_description.h"
#include "video/frame_cache.h"
#include "video/video_decoder.h"

namespace kestrova {

inline constexpr int32_t kMaxPrefetchLookahead = 16;

// Frames to decode ahead: enough to fill about half the budget, 2 to 16;
// 16 while no frame size is known (lastStoredBytes 0).
int32_t prefetchLookahead(uint64_t budgetBytes, uint64_t lastStoredBytes);

// Several host threads playing forward overtake one another, so a request
// up to this many frames behind the newest is a straggler, not a reversal,
// unless it is the second step back in a row.
inline constexpr int64_t kRequestJitter = 4;

// Where the prefetcher stands relative to the host's requests.
struct PrefetchRequest {
    int64_t lastRequested = -1;  // the newest request in the direction of travel
    int64_t cursor = -1;         // the next frame to prefetch
    int32_t direction = 1;
    int64_t previous = -1;  // the request before, whichever it was
    bool previousStepBack = false;

    // The host asked for frame n: follows its direction and keeps the cursor
    // when the request is sequential (at most kRequestJitter frames on) and
    // the cursor is already ahead of it.
    void notify(int64_t n);
    // The last frame to prefetch, never below 0.
    int64_t limit(int32_t lookahead) const;
    // True when `frame` lies beyond `limit` in the direction of travel.
    bool beyond(int64_t frame, int64_t limit) const;
};

class Prefetcher {
  public:
    Prefetcher() = default;
    // A final stop.
    ~Prefetcher();
    Prefetcher(const Prefetcher&) = delete;
    Prefetcher& operator=(const Prefetcher&) = delete;

    // True when the thread runs (at once when already started); false without
    // a cache or mutex and after a final stop.
    bool start(const std::string& path, int32_t streamIndex, int32_t deviceType, FrameCache* cache,
               std::mutex* cacheMutex);
    void notify(int64_t frameIndex);
    // Stops and joins the thread; `final` disables the prefetcher for good.
    void stop(bool final);

    bool started() const { return started_; }
    int64_t prefetchedTotal() const { return prefetchedTotal_; }

  private:
    enum class RunEnd { Stop, Wait };

    void run();
    // The next request to serve, or none when a stop was asked for.
    bool waitForWork(PrefetchRequest& request);
    [[nodiscard]] bool openResources();
    RunEnd prefetch(const PrefetchRequest& request, int64_t limit);
    bool cached(int64_t frameIndex);

    std::string path_;
    int32_t streamIndex_ = -1;
    int32_t deviceType_ = 0;
    FrameCache* cache_ = nullptr;
    std::mutex* cacheMutex_ = nullptr;

    // Declared before the decoder that borrows it, so it is destroyed last.
    ClipDescription demuxer_;
    VideoDecoder decoder_;
    std::thread thread_;

    std::mutex requestMutex_;
    std::condition_variable wake_;
    PrefetchRequest request_;
    bool workPending_ = false;
    bool stopRequested_ = false;

    // Serialises start and stop; taken before the request mutex.
    std::mutex controlMutex_;
    bool disabled_ = false;
    std::atomic<bool> started_{false};
    // Worker-only while the thread runs.
    uint64_t lastStoredBytes_ = 0;
    bool fallbackReported_ = false;
    std::atomic<int64_t> prefetchedTotal_{0};
};

}  // namespace kestrova
