// One video stream of an open demuxer turned into frames addressed by index.
// frameAt always delivers something showable and says what it delivered: the
// exact frame, the nearest one reached, the last good one or black.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "containers/clip_description.h"
#include "ffmpeg/ffmpeg_ptr.h"
#include "video/decode_thread_budget.h"
#include "video/hw_decode.h"
#include "video/seek_index.h"

namespace kestrova {

enum class DecodeStatus : int32_t {
    Ok = 0,
    NotOpen = 1,
    SeekFailed = 2,
    EndOfStream = 3,
    DecodeError = 4,
    NoFrame = 5,
};
const char* statusName(DecodeStatus status);

struct FrameResult {
    DecodeStatus status = DecodeStatus::NotOpen;
    int32_t errorCode = 0;
    std::string detail;
    int64_t frameIndex = -1;
    bool notExact = false;
    bool seeked = false;
    bool repeatedLastGood = false;
    bool black = false;
};

// Called for every picture decoded on the way to a later target.
using FrameObserver = void (*)(void* context, int64_t frameIndex, const AVFrame* frame);

struct LowresSize {
    int32_t width = 0;
    int32_t height = 0;
    int32_t lowres = 0;
};

class VideoDecoder {
  public:
    VideoDecoder() = default;
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // deviceType 0 tries every hardware candidate in order.
    [[nodiscard]] bool open(const ClipDescription& demuxer, int32_t streamIndex,
                            int32_t requestedThreads, bool useHardware, int32_t deviceType,
                            ThreadRole role);
    void close();
    bool isOpen() const { return codecContext_ != nullptr; }

    [[nodiscard]] FrameResult frameAt(int64_t n);
    [[nodiscard]] FrameResult decodeNext();
    bool setQuality(int32_t level);
    bool generateBlackFrame();
    // The picture now held (the system-memory copy for hardware frames).
    const AVFrame* currentFrame() const;
    std::vector<LowresSize> lowresSizes() const;
    int32_t currentHwPixelFormat() const;

    void setSeekIndex(const SeekIndex* index) { seekIndex_ = index; }
    void setFrameObserver(FrameObserver observer, void* context) {
        frameObserver_ = observer;
        observerContext_ = context;
    }

    int64_t currentIndex() const { return currentIndex_; }
    int64_t seekCount() const { return seekCount_; }
    int64_t framesDecoded() const { return framesDecoded_; }
    int64_t gopSpacing() const { return gopSpacing_; }
    int32_t grantedThreads() const { return grantedThreads_; }
    const HwDecodeState& hardware() const { return hw_; }
    // The codec's name, "<unknown>" when closed.
    std::string decoderName() const;

    // The forward-decode window for a request `distance` frames ahead.
    static int64_t forwardWindow(bool intraOnly, double seekCostEma, double frameCostEma,
                                 int64_t gopSpacing);

  private:
    // What the picture now held is for frame currentIndex_: decoded with that
    // index, counted or assumed to be it, or a stand-in that is no frame at all.
    enum class Held : uint8_t { Decoded, Assumed, StandIn };

    int64_t ptsToIndex(int64_t timestamp) const;
    int64_t indexToTimestamp(int64_t index) const;
    // The lowest timestamp that ptsToIndex still maps to `index`.
    int64_t earliestTimestampOf(int64_t index) const;
    // The container seek to the keyframe at or before `timestamp`; streams
    // without timestamps go back to their first byte instead.
    FrameResult seekTowards(int64_t timestamp);
    // The last good picture again, as the held picture.
    bool restoreLastGood();
    FrameResult lastGoodResult(int64_t n, const std::string& detail, bool seeked);
    FrameResult blackResult(int64_t n, bool seeked);
    // Undecodable mode: the one-time report and a placeholder picture.
    FrameResult serveUndecodable(int64_t n, const FrameResult& failure, bool intraPath);
    FrameResult handleFailure(int64_t n, FrameResult failure, bool intraPath);

    const ClipDescription* demuxer_ = nullptr;
    int32_t streamIndex_ = -1;
    ffmpeg::CodecContextPtr codecContext_;
    ffmpeg::FramePtr decodeFrame_;
    ffmpeg::FramePtr lastGoodFrame_;
    ffmpeg::PacketPtr packet_;
    ffmpeg::FramePtr transferFrame_;
    bool currentInTransfer_ = false;
    AVRational streamTimeBase_{0, 1};
    AVRational frameRate_{0, 1};
    int64_t startPts_ = 0;
    int64_t currentIndex_ = -1;
    Held held_ = Held::StandIn;
    // Pictures decoded since the stream was read again from its first byte;
    // -1 when the reading did not start there.
    int64_t picturesFromStart_ = -1;
    bool inputDrained_ = false;
    bool packetPending_ = false;
    bool intraOnly_ = false;
    bool pastEndLogged_ = false;
    bool undecodable_ = false;
    bool undecodableReported_ = false;
    int64_t seekCount_ = 0;
    int64_t framesDecoded_ = 0;
    int64_t gopSpacing_ = 0;
    int64_t lastKeyframeIndex_ = -1;
    double frameCostEma_ = 0;
    double seekCostEma_ = 0;
    double pendingSeekCost_ = 0;
    bool afterSeek_ = false;
    // The last seek's target; whether its first picture is still to come;
    // the index of that picture when an undecoded picture may share it.
    int64_t seekTarget_ = 0;
    bool landingPending_ = false;
    int64_t ambiguousIndex_ = -1;
    const SeekIndex* seekIndex_ = nullptr;
    FrameObserver frameObserver_ = nullptr;
    void* observerContext_ = nullptr;
    int32_t qualityLevel_ = -1;
    int32_t requestedThreads_ = 0;
    ThreadRole threadRole_ = ThreadRole::Foreground;
    int32_t grantedThreads_ = 0;
    HwDecodeState hw_;
    bool hardwareRequested_ = false;
    std::vector<uint8_t> blackFrameBuffer_;
};

}  // namespace kestrova
