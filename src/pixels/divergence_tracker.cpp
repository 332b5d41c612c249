#include "pixels/divergence_tracker.h"

#include "ffmpeg/ffmpeg_runtime.h"
#include "support/logger.h"

namespace kestrova {

namespace {

// Transitions 1, 2 and 3 show that a clip alternates; after that only every
// power of ten, so the log keeps a sense of scale without one line per frame.
bool worthLogging(int64_t transition) {
    if (transition >= 1 && transition <= 3) {
        return true;
    }
    if (transition < 10) {
        return false;
    }
    while (transition % 10 == 0) {
        transition /= 10;
    }
    return transition == 1;
}

std::string clipLabel(const std::string& clipName) {
    return clipName.empty() ? "<unknown clip>" : clipName;
}

}  // namespace

std::string pixelFormatLogName(int32_t format) {
    if (format == -1) {
        return "none";
    }
    const auto& runtime = ffmpeg::FfmpegRuntime::instance();
    const char* name = runtime.available()
                           ? runtime.fn().av_get_pix_fmt_name(static_cast<AVPixelFormat>(format))
                           : nullptr;
    return name ? name : "unknown";
}

bool DivergenceTracker::record(const DivergenceEvent& event, std::string* message) {
    int64_t transition = 0;
    {
        std::lock_guard lock(mutex_);
        int32_t index = 0;
        while (index < pairCount_ &&
               (pairs_[index].expected != event.expected || pairs_[index].actual != event.actual)) {
            ++index;
        }
        if (index == pairCount_) {
            if (pairCount_ == kMaxPairs) {
                ++untracked_;
                return false;
            }
            pairs_[index] = Pair{event.expected, event.actual, event.frame, 0, 0, 0};
            ++pairCount_;
        }
        Pair& pair = pairs_[index];
        ++pair.occurrences;
        if (index == currentPair_) {
            return false;
        }
        currentPair_ = index;
        transition = ++pair.transitions;
        if (!worthLogging(transition)) {
            return false;
        }
        ++pair.logged;
    }
    if (message) {
        *message = "pixel format divergence for " + clipLabel(event.clipName) + ": expected " +
                   pixelFormatLogName(event.expected) + ", actual " +
                   pixelFormatLogName(event.actual) + ", frame " + std::to_string(event.frame) +
                   (event.hwFallbackActive ? ", hw fallback active" : ", hw fallback not active") +
                   (event.fromCache ? ", source=cached" : ", source=decoded") +
                   ", route=" + enumName(event.route) + " (transition " +
                   std::to_string(transition) + ")";
        if (event.route == DeliveryRoute::Unsupported) {
            *message += ", no delivery route: " +
                        (event.reason.empty() ? std::string("no reason given") : event.reason);
        }
    }
    return true;
}

std::vector<std::string> DivergenceTracker::summary(const std::string& clipName) const {
    std::array<Pair, kMaxPairs> pairs;
    int32_t pairCount = 0;
    int64_t untracked = 0;
    {
        std::lock_guard lock(mutex_);
        pairs = pairs_;
        pairCount = pairCount_;
        untracked = untracked_;
    }
    std::vector<std::string> lines;
    const std::string prefix = "pixel format divergence summary for " + clipLabel(clipName) + ": ";
    for (int32_t i = 0; i < pairCount; ++i) {
        const Pair& pair = pairs[i];
        lines.push_back(prefix + "expected " + pixelFormatLogName(pair.expected) + ", actual " +
                        pixelFormatLogName(pair.actual) + ": first frame " +
                        std::to_string(pair.firstFrame) + ", " + std::to_string(pair.occurrences) +
                        " occurrences, " + std::to_string(pair.transitions) + " transitions, " +
                        std::to_string(pair.logged) + " logged");
    }
    if (untracked > 0) {
        lines.push_back(prefix + std::to_string(untracked) + " further events in more than " +
                        std::to_string(kMaxPairs) +
                        " distinct format pairs were counted but not tracked individually");
    }
    return lines;
}

void DivergenceTracker::report(const std::string& clipName) const {
    for (const std::string& line : summary(clipName)) {
        Logger::log(LogLevel::Warning, "%s", line.c_str());
    }
}

}  // namespace kestrova
