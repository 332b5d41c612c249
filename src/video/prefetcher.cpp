#include "video/prefetcher.h"

#include <algorithm>

#include "support/logger.h"

namespace kestrova {

namespace {

long long asLL(int64_t value) {
    return static_cast<long long>(value);
}

}  // namespace

int32_t prefetchLookahead(uint64_t budgetBytes, uint64_t lastStoredBytes) {
    if (lastStoredBytes == 0) {
        return kMaxPrefetchLookahead;
    }
    const uint64_t fitting = (budgetBytes / 2) / lastStoredBytes;
    return static_cast<int32_t>(std::clamp<uint64_t>(fitting, 2, kMaxPrefetchLookahead));
}

void PrefetchRequest::notify(int64_t n) {
    const bool stepBack = previous >= 0 && (previous - n) * direction > 0;
    const bool secondStepBack = stepBack && previousStepBack;
    previous = n;
    previousStepBack = stepBack;
    if (lastRequested >= 0) {
        const int64_t behind = (lastRequested - n) * direction;
        if (behind > 0 && behind <= kRequestJitter && !secondStepBack) {
            return;
        }
        if (behind > 0) {
            direction = -direction;
        }
    }
    const int64_t ahead = (n - lastRequested) * direction;
    const bool sequential = lastRequested >= 0 && ahead >= 0 && ahead <= kRequestJitter;
    lastRequested = n;
    const bool cursorAhead = (cursor - n) * direction > 0;
    if (!(sequential && cursorAhead)) {
        cursor = n + direction;
    }
}

int64_t PrefetchRequest::limit(int32_t lookahead) const {
    const int64_t last = lastRequested + int64_t{lookahead} * direction;
    return direction < 0 ? std::max<int64_t>(last, 0) : last;
}

bool PrefetchRequest::beyond(int64_t frame, int64_t limitFrame) const {
    return (frame - limitFrame) * direction > 0;
}

Prefetcher::~Prefetcher() {
    stop(true);
}

bool Prefetcher::start(const std::string& path, int32_t streamIndex, int32_t deviceType,
                       FrameCache* cache, std::mutex* cacheMutex) {
    if (!cache || !cacheMutex) {
        return false;
    }
    if (started_) {
        return true;
    }
    std::lock_guard control(controlMutex_);
    if (disabled_) {
        return false;
    }
    if (started_) {
        return true;
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    path_ = path;
    streamIndex_ = streamIndex;
    deviceType_ = deviceType;
    cache_ = cache;
    cacheMutex_ = cacheMutex;
    lastStoredBytes_ = 0;
    fallbackReported_ = false;
    {
        std::lock_guard lock(requestMutex_);
        stopRequested_ = false;
    }
    thread_ = std::thread(&Prefetcher::run, this);
    started_ = true;
    Logger::log(LogLevel::Info, "Prefetcher: started for %s stream %d (max lookahead=%d)",
                path_.c_str(), streamIndex_, kMaxPrefetchLookahead);
    return true;
}

void Prefetcher::notify(int64_t frameIndex) {
    {
        std::lock_guard lock(requestMutex_);
        request_.notify(frameIndex);
        workPending_ = true;
    }
    wake_.notify_one();
}

void Prefetcher::stop(bool final) {
    std::lock_guard control(controlMutex_);
    if (final) {
        disabled_ = true;
    }
    {
        std::lock_guard lock(requestMutex_);
        stopRequested_ = true;
    }
    wake_.notify_one();
    // A stop from the worker itself cannot join; std::thread raises the
    // system error for the caller.
    if (thread_.joinable()) {
        thread_.join();
    }
    if (decoder_.isOpen()) {
        decoder_.close();
    }
    if (demuxer_.isOpen()) {
        demuxer_.close();
    }
    if (started_.exchange(false)) {
        Logger::log(LogLevel::Info, "Prefetcher: stopped for %s (prefetched %lld frames total)",
                    path_.c_str(), asLL(prefetchedTotal_));
    }
}

bool Prefetcher::waitForWork(PrefetchRequest& request) {
    std::unique_lock lock(requestMutex_);
    wake_.wait(lock, [this] { return stopRequested_ || (workPending_ && request_.cursor >= 0); });
    if (stopRequested_) {
        return false;
    }
    workPending_ = false;
    request = request_;
    return true;
}

bool Prefetcher::openResources() {
    if (!demuxer_.isOpen()) {
        const ProbeResult probed = demuxer_.probe(path_);
        if (probed.status != ProbeStatus::Ok) {
            Logger::log(LogLevel::Warning, "Prefetcher: cannot open %s: %s", path_.c_str(),
                        probed.detail.c_str());
            return false;
        }
    }
    if (!decoder_.isOpen() && !decoder_.open(demuxer_, streamIndex_, 1, deviceType_ != 0,
                                             deviceType_, ThreadRole::Background)) {
        Logger::log(LogLevel::Warning, "Prefetcher: decoder open failed, stopping");
        return false;
    }
    return true;
}

bool Prefetcher::cached(int64_t frameIndex) {
    std::lock_guard lock(*cacheMutex_);
    return cache_->contains(frameIndex);
}

void Prefetcher::run() {
    if (!ffmpeg::FfmpegRuntime::instance().available()) {
        Logger::log(LogLevel::Error, "Prefetcher: FFmpeg runtime unavailable, exiting thread");
        return;
    }
    PrefetchRequest request;
    while (waitForWork(request)) {
        uint64_t budget = 0;
        {
            std::lock_guard lock(*cacheMutex_);
            budget = cache_->budget();
        }
        const int64_t limit = request.limit(prefetchLookahead(budget, lastStoredBytes_));
        if (request.beyond(request.cursor, limit)) {
            continue;
        }
        if (!openResources() || prefetch(request, limit) == RunEnd::Stop) {
            return;
        }
    }
}

Prefetcher::RunEnd Prefetcher::prefetch(const PrefetchRequest& request, int64_t limit) {
    const int32_t step = request.direction;
    for (int64_t n = request.cursor; !request.beyond(n, limit); n += step) {
        if (cached(n)) {
            continue;
        }
        {
            std::lock_guard lock(requestMutex_);
            if (stopRequested_) {
                return RunEnd::Stop;
            }
            // The newest request is served first.
            if (workPending_) {
                request_.cursor = request_.lastRequested + request_.direction;
                return RunEnd::Wait;
            }
        }
        const FrameResult result = decoder_.frameAt(n);
        const HwDecodeState& hardware = decoder_.hardware();
        if (hardware.fallenBack && !fallbackReported_) {
            fallbackReported_ = true;
            Logger::log(LogLevel::Warning,
                        "Prefetcher: its own decoder fell back to software at frame %lld for %s "
                        "(%s) -- frames cached from here on carry the software pixel format while "
                        "earlier cached frames keep the hardware one",
                        asLL(n), path_.c_str(), hardware.reason.c_str());
        }
        if (result.status != DecodeStatus::Ok) {
            Logger::log(LogLevel::Debug, "Prefetcher: decode stopped at frame %lld: %s", asLL(n),
                        statusName(result.status));
            return RunEnd::Wait;
        }
        const AVFrame* frame = decoder_.currentFrame();
        if (!frame || !frame->data[0] || result.repeatedLastGood || result.black) {
            continue;
        }
        // Only the frame asked for is cached under its index; a nearest
        // frame would be served later as if it were that frame.
        if (result.notExact) {
            Logger::log(LogLevel::Debug, "Prefetcher: frame %lld is not exact, not cached",
                        asLL(n));
            continue;
        }
        uint64_t stored = 0;
        {
            std::lock_guard lock(*cacheMutex_);
            stored = cache_->store(n, frame);
        }
        if (stored != 0) {
            lastStoredBytes_ = stored;
        }
        ++prefetchedTotal_;
        // A request that came during this decode keeps its place, also when
        // this was the last frame of the run.
        std::lock_guard lock(requestMutex_);
        request_.cursor = workPending_ ? request_.lastRequested + request_.direction : n + step;
    }
    return RunEnd::Wait;
}

}  // namespace kestrova
