// Chooses, packet by packet, what a trim by remuxing writes, so that the
// output decodes from its first packet and shows the kept span:
//
// 1. The reference video stream starts at a keyframe: the last one whose
//    presentation time is at or before the in point (the first keyframe read
//    when none is). Packets are held until a later decoding time shows that
//    no later keyframe can qualify; then that keyframe's presentation time
//    becomes the origin of every stream.
// 2. Other video streams start at their first keyframe at or after the
//    origin; audio at its first packet at or after it.
// 3. Pictures presented before the origin (the leading pictures of an open
//    GOP, which need the GOP before) are dropped.
// 4. A video stream ends at its first packet decoded at or after the out
//    point. Packets before that which are shown at or after the out point are
//    written only when a later packet shown before the out point follows
//    them: they are the references it needs. Audio ends at its first packet
//    at or after the out point.
// 5. The trim is done when every copied stream has ended.
//
// Times are in one time base, the reference stream's; kNoTimestamp marks a
// missing one. `Payload` is what the caller writes (a packet); the selector
// owns what it holds and destroys what it drops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace kestrova::fileops {

inline constexpr int64_t kNoTimestamp = std::numeric_limits<int64_t>::min();

enum class StreamRole : uint8_t { Skip, Video, Audio };

struct PacketTiming {
    int32_t stream = 0;
    bool keyframe = false;
    int64_t pts = kNoTimestamp;
    int64_t dts = kNoTimestamp;
};

struct TrimWindow {
    int64_t in = 0;
    int64_t out = 0;
    // How far a keyframe may lie past the in point and still count as at it:
    // half a frame absorbs the rounding of host units.
    int64_t tolerance = 0;
};

template <typename Payload>
class TrimSelector {
  public:
    // `roles` has one entry per input stream; `reference` is the stream that
    // decides the start, or -1. A reference that is not video starts at the
    // in point itself.
    TrimSelector(std::vector<StreamRole> roles, int32_t reference, TrimWindow window)
        : window_(window), reference_(reference) {
        streams_.resize(roles.size());
        for (std::size_t i = 0; i < roles.size(); ++i) {
            streams_[i].role = roles[i];
        }
        choosingStart_ = isVideo(reference);
        if (!choosingStart_) {
            origin_ = window.in;
        }
    }

    // Takes the next packet read; answers the packets to write now, in order.
    std::vector<Payload> offer(Payload payload, const PacketTiming& timing) {
        std::vector<Payload> out;
        if (timing.stream < 0 || static_cast<std::size_t>(timing.stream) >= streams_.size() ||
            streams_[static_cast<std::size_t>(timing.stream)].role == StreamRole::Skip) {
            return out;
        }
        if (choosingStart_ && !holdForStart(payload, timing, out)) {
            return out;
        }
        place(std::move(payload), timing, out);
        return out;
    }

    // At the end of the input: settles a start still being chosen.
    std::vector<Payload> finish() {
        std::vector<Payload> out;
        if (choosingStart_) {
            settleStart(out);
        }
        return out;
    }

    bool done() const {
        bool anyCopied = false;
        for (const auto& stream : streams_) {
            if (stream.role != StreamRole::Skip) {
                anyCopied = true;
                if (!stream.ended) {
                    return false;
                }
            }
        }
        return anyCopied;
    }
    // The time every output stream starts from; empty until it is chosen.
    std::optional<int64_t> origin() const { return origin_; }

  private:
    // Packets held while the start is chosen, bounded so that a stream
    // without usable times cannot fill memory.
    static constexpr std::size_t kMaxHeld = 65536;

    struct Held {
        Payload payload;
        PacketTiming timing;
    };
    struct StreamState {
        StreamRole role = StreamRole::Skip;
        bool started = false;
        bool ended = false;
        std::vector<Payload> tail;  // shown after the out point, maybe needed
    };

    bool isVideo(int32_t stream) const {
        return stream >= 0 && static_cast<std::size_t>(stream) < streams_.size() &&
               streams_[static_cast<std::size_t>(stream)].role == StreamRole::Video;
    }
    static int64_t decodeTime(const PacketTiming& t) {
        return t.dts != kNoTimestamp ? t.dts : t.pts;
    }
    static int64_t showTime(const PacketTiming& t) { return t.pts != kNoTimestamp ? t.pts : t.dts; }
    bool atOrBeforeIn(int64_t time) const {
        return time != kNoTimestamp && time <= window_.in + window_.tolerance;
    }

    // While choosing the start: true when the packet is to be placed now
    // (the start was settled before it), false when it was held or dropped.
    bool holdForStart(Payload& payload, const PacketTiming& timing, std::vector<Payload>& out) {
        if (timing.stream != reference_) {
            held_.push_back({std::move(payload), timing});
            if (held_.size() > kMaxHeld) {
                settleStart(out);
            }
            return false;
        }
        const bool hasCandidate = candidate_.has_value();
        if (timing.keyframe && timing.pts != kNoTimestamp &&
            (!hasCandidate || atOrBeforeIn(timing.pts))) {
            if (hasCandidate) {
                dropHeldReference();
            }
            candidate_ = held_.size();
            held_.push_back({std::move(payload), timing});
            if (!atOrBeforeIn(timing.pts)) {
                settleStart(out);
            }
            return false;
        }
        if (!hasCandidate) {
            return false;  // cannot be decoded without the keyframe before it
        }
        const int64_t decoded = decodeTime(timing);
        if ((timing.keyframe && timing.pts != kNoTimestamp) ||
            (decoded != kNoTimestamp && !atOrBeforeIn(decoded))) {
            // Decoded after the in point: no keyframe at or before it can follow.
            settleStart(out);
            return true;
        }
        held_.push_back({std::move(payload), timing});
        if (held_.size() > kMaxHeld) {
            settleStart(out);
        }
        return false;
    }

    // A later keyframe qualifies: the reference packets before it are of no use.
    void dropHeldReference() {
        std::vector<Held> kept;
        for (auto& held : held_) {
            if (held.timing.stream != reference_) {
                kept.push_back(std::move(held));
            }
        }
        held_ = std::move(kept);
    }

    void settleStart(std::vector<Payload>& out) {
        choosingStart_ = false;
        if (!candidate_) {
            held_.clear();
            return;  // no keyframe at all: nothing of the reference can be written
        }
        origin_ = held_[*candidate_].timing.pts;
        std::vector<Held> held = std::move(held_);
        held_.clear();
        for (std::size_t i = 0; i < held.size(); ++i) {
            if (held[i].timing.stream == reference_ && i < *candidate_) {
                continue;
            }
            place(std::move(held[i].payload), held[i].timing, out);
        }
    }

    void place(Payload payload, const PacketTiming& timing, std::vector<Payload>& out) {
        StreamState& stream = streams_[static_cast<std::size_t>(timing.stream)];
        if (stream.ended || !origin_) {
            return;
        }
        const int64_t origin = *origin_;
        if (stream.role == StreamRole::Video) {
            const int64_t decoded = decodeTime(timing);
            if (decoded != kNoTimestamp && decoded >= window_.out) {
                stream.ended = true;
                stream.tail.clear();
                return;
            }
            const int64_t shown = showTime(timing);
            if (!stream.started) {
                if (!timing.keyframe || shown == kNoTimestamp ||
                    shown < origin - window_.tolerance) {
                    return;
                }
                stream.started = true;
            }
            if (shown != kNoTimestamp && shown < origin - window_.tolerance) {
                return;
            }
            if (shown != kNoTimestamp && shown >= window_.out) {
                stream.tail.push_back(std::move(payload));
                return;
            }
            for (auto& needed : stream.tail) {
                out.push_back(std::move(needed));
            }
            stream.tail.clear();
            out.push_back(std::move(payload));
            return;
        }
        const int64_t shown = showTime(timing);
        if (shown == kNoTimestamp) {
            if (stream.started) {
                out.push_back(std::move(payload));
            }
            return;
        }
        if (shown >= window_.out) {
            stream.ended = true;
            return;
        }
        if (shown < origin) {
            return;
        }
        stream.started = true;
        out.push_back(std::move(payload));
    }

    TrimWindow window_;
    int32_t reference_ = -1;
    std::vector<StreamState> streams_;
    bool choosingStart_ = false;
    std::optional<std::size_t> candidate_;
    std::vector<Held> held_;
    std::optional<int64_t> origin_;
};

}  // namespace kestrova::fileops
