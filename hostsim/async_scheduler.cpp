#include "async_scheduler.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "frame_records.h"

namespace kestrova::hostsim {
namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Shared {
    std::atomic<std::size_t> next{0};
    std::atomic<int64_t> started{0};
    std::atomic<bool> closeReturned{false};
    std::atomic<int64_t> delivered{0};
    std::atomic<int64_t> failed{0};
    std::atomic<int64_t> refused{0};
    std::atomic<int64_t> snapped{0};
};

void requestFrames(const AsyncImporter& importer, Host& host, const AsyncPlayback& playback,
                   Shared& shared, std::vector<double>& latency) {
    while (!shared.closeReturned) {
        const std::size_t index = shared.next++;
        if (index >= playback.frames.size()) {
            return;
        }
        ++shared.started;
        const int64_t frame = playback.frames[index];
        int64_t ticks = frameTicks(frame, playback.rateNum, playback.rateDen);
        const Clock::time_point start = Clock::now();
        if (playback.snapRenderTimes) {
            const RenderTimeAnswer snap = selectEfficientRenderTime(importer, ticks);
            if (snap.result == host::imNoErr && snap.timeTicks != ticks) {
                ++shared.snapped;
                ticks = snap.timeTicks;
            }
        }
        const AsyncFrameAnswer answer = asyncGetFrame(importer, ticks, playback.formats);
        latency[index] = millisecondsSince(start);
        if (answer.result == host::imNoErr) {
            ++shared.delivered;
        } else if (answer.result == host::aiClosing) {
            ++shared.refused;
        } else {
            ++shared.failed;
        }
        if (playback.onFrame) {
            playback.onFrame(frame, answer);
        }
        if (answer.ppix) {
            host.ppix().dispose(answer.ppix);
        }
    }
}

// Waits until `count` requests have started or every requesting thread is done.
void awaitStarted(const Shared& shared, int64_t count, const std::atomic<int32_t>& running) {
    while (shared.started < count && running > 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

}  // namespace

AsyncPlaybackReport playAsync(const AsyncImporter& importer, Host& host,
                              const AsyncPlayback& playback) {
    AsyncPlaybackReport report;
    report.latencyMs.assign(playback.frames.size(), 0.0);
    Shared shared;
    std::atomic<int32_t> running{std::max(playback.threads, 1)};
    const Clock::time_point start = Clock::now();
    std::vector<std::thread> threads;
    for (int32_t t = 0; t < running; ++t) {
        threads.emplace_back([&] {
            requestFrames(importer, host, playback, shared, report.latencyMs);
            --running;
        });
    }
    if (playback.flushAfter >= 0) {
        awaitStarted(shared, playback.flushAfter, running);
        report.flushResult = asyncFlush(importer);
        report.flushed = true;
    }
    if (playback.closeAfter >= 0) {
        awaitStarted(shared, playback.closeAfter, running);
        report.closeResult = asyncClose(importer);
        report.closed = true;
        shared.closeReturned = true;
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    report.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    report.requested = shared.started;
    report.delivered = shared.delivered;
    report.failed = shared.failed;
    report.refused = shared.refused;
    report.snapped = shared.snapped;
    return report;
}

std::vector<int64_t> scrubPattern(int64_t frameCount) {
    std::vector<int64_t> frames;
    if (frameCount <= 0) {
        return frames;
    }
    const int64_t last = frameCount - 1;
    const int64_t reach = std::min<int64_t>(last, 60);
    for (int64_t n = 0; n <= reach; ++n) {
        frames.push_back(n);
    }
    for (int64_t n = reach / 3; n <= std::min(last, reach / 3 + 12); ++n) {
        frames.push_back(n);
    }
    for (int64_t n = reach; n >= 0; --n) {
        frames.push_back(n);
    }
    return frames;
}

}  // namespace kestrova::hostsim
