#include "async/render_time_snap.h"

#include <limits>

namespace kestrova::async {

SnapDecision snapToKeyframe(const SeekIndex& index, int64_t spacing, int64_t n) {
    SnapDecision decision;
    decision.frame = n;
    if (index.entries.empty()) {
        return decision;
    }
    decision.spacing = spacing;
    const std::optional<SeekIndexEntry> entry = index.entryForFrame(n);
    if (decision.spacing <= 0 || !entry) {
        return decision;
    }
    decision.keyframe = entry->frameIndex;
    if (decision.keyframe == n) {
        decision.kind = SnapDecision::Kind::AlreadyKeyframe;
    } else if (n - decision.keyframe <= decision.spacing) {
        decision.kind = SnapDecision::Kind::Snapped;
    } else {
        decision.kind = SnapDecision::Kind::Declined;
    }
    return decision;
}

int64_t ticksOfFrame(int64_t frame, int32_t rateNum, int32_t rateDen, int64_t ticksPerSecond) {
    if (rateNum <= 0 || rateDen <= 0 || ticksPerSecond <= 0) {
        return 0;
    }
    const __int128 product = static_cast<__int128>(frame) * rateDen * ticksPerSecond;
    const __int128 half = rateNum / 2;
    const __int128 ticks = (product >= 0 ? product + half : product - half) / rateNum;
    constexpr __int128 kMax = std::numeric_limits<int64_t>::max();
    constexpr __int128 kMin = std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(ticks > kMax ? kMax : ticks < kMin ? kMin : ticks);
}

}  // namespace kestrova::async
