// Counts frames that arrive in another pixel format than the plan expected,
// per pair of formats, and decides which of them are worth a log line so that
// a clip alternating between two formats does not flood the log.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "pixels/pixel_enums.h"

namespace kestrova {

struct DivergenceEvent {
    int32_t expected = -1;  // the plan's source format, -1 when none
    int32_t actual = -1;
    DeliveryRoute route = DeliveryRoute::Unsupported;
    int64_t frame = 0;
    bool fromCache = false;
    bool hwFallbackActive = false;
    std::string reason;
    std::string clipName;
};

// FFmpeg's name of a pixel format: "none" for -1, "unknown" when unnamed or
// FFmpeg is not loaded.
std::string pixelFormatLogName(int32_t format);

class DivergenceTracker {
  public:
    static constexpr int32_t kMaxPairs = 4;

    // Counts the event; true when it deserves a log line, which `message`
    // (when given) receives.
    bool record(const DivergenceEvent& event, std::string* message);
    // The cumulative counts, one line per pair; empty when nothing diverged.
    std::vector<std::string> summary(const std::string& clipName) const;
    // Logs the summary at warning level.
    void report(const std::string& clipName) const;

  private:
    struct Pair {
        int32_t expected = -1;
        int32_t actual = -1;
        int64_t firstFrame = 0;
        int64_t occurrences = 0;
        int64_t transitions = 0;
        int64_t logged = 0;
    };

    mutable std::mutex mutex_;
    std::array<Pair, kMaxPairs> pairs_{};
    int32_t pairCount_ = 0;
    int32_t currentPair_ = -1;
    int64_t untracked_ = 0;
};

}  // namespace kestrova
