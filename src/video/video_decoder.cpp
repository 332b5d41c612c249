// The frame search of VideoDecoder: decoding in stream order, and serving
// frame n by decoding forward or seeking, with the fall-backs that keep the
// host supplied with a picture.
#include "video/video_decoder.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>

#include "ffmpeg/ffmpeg_runtime.h"
#include "support/logger.h"
#include "video/decoder_common.h"
#include "video/hw_devices.h"

namespace kestrova {
namespace {

using decoding::holdsPicture;
using decoding::runtime;

// Only the ratio of the two cost averages matters; any monotonic clock will do.
double nowNs() {
    return std::chrono::duration<double, std::nano>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double ema(double average, double sample) {
    return average <= 0 ? sample : 0.875 * average + 0.125 * sample;
}

FrameResult failure(DecodeStatus status, int32_t code, std::string detail) {
    FrameResult result;
    result.status = status;
    result.errorCode = code;
    result.detail = std::move(detail);
    return result;
}

FrameResult decodeError(int32_t code) {
    return failure(DecodeStatus::DecodeError, code, avErrorText(code));
}

constexpr uint32_t kIterationCap = 0x100000;
constexpr int64_t kDecodeGuard = 100000;
// The first step back when a seek lands after the frame asked for and the
// keyframe spacing is not known yet.
constexpr int64_t kShortestStepBack = 12;
// Decode order runs at most this many pictures ahead of display order, so a
// seek aimed this far before the first picture precedes every packet.
constexpr int64_t kMaxReorderDepth = 16;

// The frame a seek aims at after stepping `back` frames behind frame n; past
// the first picture it is the lead-in before every packet of the stream.
int64_t stepBackTarget(int64_t n, int64_t back) {
    return back <= n ? n - back : -kMaxReorderDepth;
}

}  // namespace

int64_t VideoDecoder::ptsToIndex(int64_t timestamp) const {
    if (timestamp == AV_NOPTS_VALUE || !ffmpeg::isPositive(frameRate_) ||
        !ffmpeg::isPositive(streamTimeBase_)) {
        return -1;
    }
    int64_t offset = 0;
    if (__builtin_sub_overflow(timestamp, startPts_, &offset)) {
        return -1;
    }
    return runtime().fn().av_rescale_q(offset, streamTimeBase_,
                                       AVRational{frameRate_.den, frameRate_.num});
}

int64_t VideoDecoder::indexToTimestamp(int64_t index) const {
    if (!ffmpeg::isPositive(frameRate_) || !ffmpeg::isPositive(streamTimeBase_)) {
        return startPts_;
    }
    const int64_t offset = runtime().fn().av_rescale_q(
        index, AVRational{frameRate_.den, frameRate_.num}, streamTimeBase_);
    int64_t timestamp = 0;
    if (__builtin_add_overflow(startPts_, offset, &timestamp)) {
        return startPts_;
    }
    return timestamp;
}

int64_t VideoDecoder::earliestTimestampOf(int64_t index) const {
    if (!ffmpeg::isPositive(frameRate_) || !ffmpeg::isPositive(streamTimeBase_) ||
        frameRate_.num > INT32_MAX / 2 || index > INT64_MAX / 2 || index < INT64_MIN / 2) {
        return indexToTimestamp(index);
    }
    // Half a frame before the nominal time, one tick lower against rounding.
    const int64_t offset = runtime().fn().av_rescale_q(
        2 * index - 1, AVRational{frameRate_.den, 2 * frameRate_.num}, streamTimeBase_);
    int64_t timestamp = 0;
    if (__builtin_add_overflow(startPts_, offset, &timestamp) || timestamp == INT64_MIN) {
        return startPts_;
    }
    return timestamp - 1;
}

FrameResult VideoDecoder::decodeNext() {
    FrameResult result;
    if (codecContext_ == nullptr || demuxer_ == nullptr || demuxer_->demuxer() == nullptr ||
        !runtime().available()) {
        return result;
    }
    const auto& fn = runtime().fn();
    AVFormatContext* format = demuxer_->demuxer();
    AVCodecContext* context = codecContext_.get();
    const double start = nowNs();
    bool flushSent = false;

    for (uint32_t iteration = 0;; ++iteration) {
        if (iteration >= kIterationCap) {
            Logger::log(LogLevel::Warning,
                        "decodeNext: iteration cap reached without a frame; treating as decode "
                        "error");
            return failure(DecodeStatus::DecodeError, 0, "decodeNext iteration cap reached");
        }
        const int received = fn.avcodec_receive_frame(context, decodeFrame_.get());
        if (received == 0) {
            break;
        }
        if (received == AVERROR_EOF) {
            inputDrained_ = true;
            return failure(DecodeStatus::EndOfStream, 0, "");
        }
        if (received != AVERROR(EAGAIN)) {
            return decodeError(received);
        }
        if (!packetPending_) {
            fn.av_packet_unref(packet_.get());
            const int read = fn.av_read_frame(format, packet_.get());
            if (read == AVERROR_EOF) {
                if (flushSent) {
                    inputDrained_ = true;
                    return failure(DecodeStatus::EndOfStream, 0, "");
                }
                const int sent = fn.avcodec_send_packet(context, nullptr);
                flushSent = true;
                inputDrained_ = true;
                if (sent < 0 && sent != AVERROR_EOF && sent != AVERROR(EAGAIN)) {
                    Logger::log(LogLevel::Debug,
                                "decodeNext: flush send failed (%s); reporting EOS",
                                avErrorText(sent).c_str());
                    return failure(DecodeStatus::EndOfStream, 0, "");
                }
                continue;
            }
            if (read < 0) {
                return decodeError(read);
            }
            if (packet_->stream_index != streamIndex_) {
                continue;
            }
            if ((packet_->flags & AV_PKT_FLAG_KEY) != 0) {
                const int64_t keyIndex =
                    ptsToIndex(packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts);
                if (keyIndex >= 0 && lastKeyframeIndex_ >= 0 && keyIndex > lastKeyframeIndex_) {
                    gopSpacing_ = keyIndex - lastKeyframeIndex_;
                }
                lastKeyframeIndex_ = keyIndex;
            }
        }
        const int sent = fn.avcodec_send_packet(context, packet_.get());
        if (sent == AVERROR(EAGAIN)) {
            packetPending_ = true;
            continue;
        }
        packetPending_ = false;
        if (sent < 0) {
            return decodeError(sent);
        }
    }

    // A picture arrived; hardware pictures are copied to system memory.
    ++framesDecoded_;
    currentInTransfer_ = false;
    if (decodeFrame_->hw_frames_ctx != nullptr && transferFrame_ != nullptr) {
        fn.av_frame_unref(transferFrame_.get());
        const int transferred =
            fn.av_hwframe_transfer_data(transferFrame_.get(), decodeFrame_.get(), 0);
        if (transferred < 0) {
            const std::string text = avErrorText(transferred);
            declareFallback(hw_, "av_hwframe_transfer_data failed: " + text);
            return failure(DecodeStatus::DecodeError, transferred, text);
        }
        fn.av_frame_copy_props(transferFrame_.get(), decodeFrame_.get());
        currentInTransfer_ = true;
    }

    double elapsed = nowNs() - start;
    if (afterSeek_) {
        elapsed += pendingSeekCost_;
        seekCostEma_ = ema(seekCostEma_, elapsed);
        afterSeek_ = false;
        pendingSeekCost_ = 0;
    } else {
        frameCostEma_ = ema(frameCostEma_, elapsed);
    }

    const AVFrame* picture = currentFrame();
    const int64_t timestamp = picture->best_effort_timestamp != AV_NOPTS_VALUE
                                  ? picture->best_effort_timestamp
                                  : picture->pts;
    currentIndex_ = ptsToIndex(timestamp);
    held_ = currentIndex_ >= 0 ? Held::Decoded : Held::Assumed;
    // With variable frame rates two pictures can share an index. The first
    // picture after a seek may be the second of such a pair, unless the seek
    // aimed before every picture of its index or it opens the stream.
    if (landingPending_) {
        landingPending_ = false;
        if (currentIndex_ >= 0 && timestamp > startPts_ &&
            earliestTimestampOf(currentIndex_) < seekTarget_) {
            ambiguousIndex_ = currentIndex_;
        }
    }
    // Read from its first byte, a stream without timestamps names its
    // pictures by counting them.
    if (picturesFromStart_ >= 0) {
        if (currentIndex_ < 0) {
            currentIndex_ = picturesFromStart_;
        }
        ++picturesFromStart_;
    }
    fn.av_frame_unref(lastGoodFrame_.get());
    if (fn.av_frame_ref(lastGoodFrame_.get(), picture) < 0) {
        fn.av_frame_unref(lastGoodFrame_.get());
    }
    pastEndLogged_ = false;
    result.status = DecodeStatus::Ok;
    result.frameIndex = currentIndex_;
    return result;
}

FrameResult VideoDecoder::seekTowards(int64_t timestamp) {
    const auto& fn = runtime().fn();
    AVFormatContext* format = demuxer_->demuxer();
    const double start = nowNs();
    // Raw elementary streams carry no timestamps, so a picture reached by any
    // other seek could not be named; from the first byte they can be counted.
    const bool fromFirstByte = format->iformat != nullptr &&
                               (format->iformat->flags & AVFMT_NOTIMESTAMPS) != 0 &&
                               (format->iformat->flags & AVFMT_NO_BYTE_SEEK) == 0;
    int sought = -1;
    if (fromFirstByte) {
        sought = fn.av_seek_frame(format, streamIndex_, 0, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_BYTE);
    } else {
        // An index made for another stream of the file holds positions of
        // that stream's keyframes.
        if (seekIndex_ != nullptr && seekIndex_->streamIndex == streamIndex_ &&
            !seekIndex_->entries.empty()) {
            const int64_t position = seekIndex_->positionFor(timestamp);
            if (position >= 0) {
                sought = fn.av_seek_frame(format, streamIndex_, position,
                                          AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_BYTE);
            }
        }
        if (sought < 0) {
            sought = fn.av_seek_frame(format, streamIndex_, timestamp, AVSEEK_FLAG_BACKWARD);
        }
    }
    if (sought < 0) {
        FrameResult result = failure(DecodeStatus::SeekFailed, sought, avErrorText(sought));
        result.seeked = true;
        return result;
    }
    fn.avcodec_flush_buffers(codecContext_.get());
    ++seekCount_;
    currentIndex_ = -1;
    picturesFromStart_ = fromFirstByte ? 0 : -1;
    seekTarget_ = timestamp;
    landingPending_ = true;
    ambiguousIndex_ = -1;
    // The next keyframe read is not the successor of the last one seen, so it
    // must not be measured against it.
    lastKeyframeIndex_ = -1;
    inputDrained_ = false;
    packetPending_ = false;
    fn.av_packet_unref(packet_.get());
    pendingSeekCost_ = nowNs() - start;
    afterSeek_ = true;
    FrameResult result;
    result.status = DecodeStatus::Ok;
    result.seeked = true;
    return result;
}

FrameResult VideoDecoder::frameAt(int64_t n) {
    n = std::max<int64_t>(n, 0);
    // 1. Nothing open.
    if (codecContext_ == nullptr || demuxer_ == nullptr || !runtime().available()) {
        return FrameResult{};
    }
    // 2. Undecodable: placeholders only, silently.
    if (undecodable_) {
        if (restoreLastGood()) {
            return lastGoodResult(n, "", false);
        }
        if (generateBlackFrame()) {
            return blackResult(n, false);
        }
        return failure(DecodeStatus::DecodeError, AVERROR(ENOSYS),
                       "stream is undecodable by this build");
    }
    // 3. The picture already held, unless it only stands in for a frame.
    if (currentIndex_ == n && held_ != Held::StandIn && holdsPicture(currentFrame())) {
        FrameResult result;
        result.status = DecodeStatus::Ok;
        result.frameIndex = n;
        result.notExact = held_ == Held::Assumed;
        return result;
    }
    // 4. Close enough ahead: decode forward so that playback never seeks.
    bool forward = false;
    if (currentIndex_ >= 0) {
        const int64_t distance = n - currentIndex_;
        forward = distance >= 1 &&
                  distance <= forwardWindow(intraOnly_, seekCostEma_, frameCostEma_, gopSpacing_);
    }
    // 5. Otherwise seek to the keyframe at or before n.
    bool seeked = false;
    bool landedEarly = false;
    if (!forward) {
        // Intra-only streams take the first picture after the seek, so they
        // aim at frame n itself. Other streams aim at the earliest time that
        // still counts as frame n: with variable frame rates two pictures can
        // share an index, and the keyframe must not lie between them.
        FrameResult sought = seekTowards(intraOnly_ ? indexToTimestamp(n) : earliestTimestampOf(n));
        if (sought.status != DecodeStatus::Ok && !intraOnly_) {
            // Some demuxers refuse a time before the first picture (a still image).
            sought = seekTowards(indexToTimestamp(n));
        }
        if (sought.status != DecodeStatus::Ok) {
            return sought;
        }
        seeked = true;
        // 6. Every picture of an intra-only stream is a seek target: take the
        // first, unless the demuxer landed before n (NUT seeks to syncpoints,
        // which need not precede every picture); then decode on to n.
        if (intraOnly_) {
            FrameResult result = decodeNext();
            result.seeked = true;
            if (result.status == DecodeStatus::Ok && currentIndex_ >= 0 && currentIndex_ < n) {
                landedEarly = true;
            } else if (result.status == DecodeStatus::Ok) {
                if (currentIndex_ < 0) {
                    currentIndex_ = n;
                }
                result.frameIndex = currentIndex_;
                result.notExact = currentIndex_ != n || held_ == Held::Assumed;
                return result;
            } else {
                return handleFailure(n, std::move(result), true);
            }
        }
    }
    // 7. Decode forward to n; the pictures on the way feed the observer.
    bool firstAfterSeek = seeked && !landedEarly;
    int64_t back = 0;
    bool aimedBeforeStart = false;
    for (int64_t passed = 0;;) {
        FrameResult result = decodeNext();
        result.seeked = seeked;
        const bool noTimestamp = result.status == DecodeStatus::Ok && currentIndex_ < 0;
        const bool overshot = (result.status == DecodeStatus::Ok && currentIndex_ > n) ||
                              result.status == DecodeStatus::EndOfStream;
        if (firstAfterSeek && !noTimestamp && overshot && !aimedBeforeStart) {
            // The seek landed after frame n, or so near the end that no
            // picture followed. MPEG-TS seeks by decoding time to any packet,
            // not to a keyframe, and the decoder skips ahead to the next
            // keyframe. Aim further back, twice as far each time, until a
            // keyframe at or before n is crossed or the seek aims before the
            // first packet: a long GOP needs as many steps as it takes.
            back = back == 0 ? std::max(gopSpacing_, kShortestStepBack)
                             : (back > INT64_MAX / 2 ? INT64_MAX : 2 * back);
            const int64_t target = stepBackTarget(n, back);
            aimedBeforeStart = target < 0;
            if (seekTowards(earliestTimestampOf(target)).status == DecodeStatus::Ok) {
                continue;
            }
        }
        firstAfterSeek = false;
        if (result.status != DecodeStatus::Ok) {
            // 8. The failure paths.
            return handleFailure(n, std::move(result), false);
        }
        if (noTimestamp) {
            // No timestamps and nothing counted: assume the request was met.
            currentIndex_ = n;
            result.frameIndex = n;
            result.notExact = true;
            return result;
        }
        if (currentIndex_ >= n) {
            if (currentIndex_ > n) {
                Logger::log(LogLevel::Debug,
                            "frame %lld requested, delivered %lld (nearest available)",
                            static_cast<long long>(n), static_cast<long long>(currentIndex_));
                result.notExact = true;
            }
            result.notExact = result.notExact || held_ == Held::Assumed;
            result.frameIndex = currentIndex_;
            return result;
        }
        // Only a picture that is surely the first of its index is offered,
        // so the cache holds what a request for that index would decode.
        if (frameObserver_ != nullptr && held_ == Held::Decoded &&
            currentIndex_ != ambiguousIndex_) {
            frameObserver_(observerContext_, currentIndex_, currentFrame());
        }
        if (++passed >= kDecodeGuard) {
            FrameResult tripped = failure(DecodeStatus::NoFrame, 0,
                                          "decode guard tripped without reaching the target frame");
            tripped.seeked = seeked;
            return tripped;
        }
    }
}

}  // namespace kestrova
