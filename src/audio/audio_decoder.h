// One audio stream of an open demuxer delivered as planar 32-bit float at the
// rate and channel count it had when opened, addressed by absolute sample.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "containers/clip_description.h"
#include "ffmpeg/ffmpeg_ptr.h"

struct SwrContext;

namespace kestrova {

enum class AudioStatus : int32_t {
    Ok = 0,
    NotOpen = 1,
    SeekFailed = 2,
    EndOfStream = 3,
    DecodeError = 4,
};
const char* statusName(AudioStatus status);

struct AudioReadResult {
    AudioStatus status = AudioStatus::Ok;
    std::string detail;
    int64_t samples = 0;
};

struct AudioDecoderStats {
    int64_t busyNs = 0;
    int64_t readCalls = 0;
    int64_t seeks = 0;
    int64_t decodedSamples = 0;
    int64_t configChanges = 0;
};

struct SwrDeleter {
    void operator()(SwrContext* context) const;
};
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;

class AudioDecoder {
  public:
    AudioDecoder() = default;
    ~AudioDecoder() { close(); }
    AudioDecoder(const AudioDecoder&) = delete;
    AudioDecoder& operator=(const AudioDecoder&) = delete;

    // Every caller passes threadCount 0; the decoder raises it to 1.
    [[nodiscard]] bool open(const ClipDescription& demuxer, int32_t streamIndex,
                            int32_t threadCount);
    void close();
    bool isOpen() const { return codecContext_ && demuxer_ && resampler_; }

    // Fills `count` samples into each output plane (one per channel, a null
    // plane is skipped) from absolute sample `start`; what cannot be decoded
    // is zero-filled and not counted.
    [[nodiscard]] AudioReadResult read(int64_t start, int64_t count, float* const* planes);
    // Decodes the next frame of the stream.
    bool decodeNext();
    // Delivers up to `maximum` samples of the current frame.
    int64_t take(float* const* planes, int64_t maximum);

    // The stream's exact length in samples, found by decoding its last
    // frames; `estimate` (from the container's duration) says where to look
    // and is answered when the end cannot be found. Measured once per open.
    int64_t measureLength(int64_t estimate);

    int32_t streamIndex() const { return streamIndex_; }
    int32_t channels() const { return outChannels_; }
    int32_t sampleRate() const { return outRate_; }
    int64_t position() const { return position_; }
    bool passthrough() const { return passthrough_; }
    const AudioDecoderStats& stats() const { return stats_; }

    // How far before a wanted sample decoding must start for the decoder to
    // produce the samples a sequential decode gives there.
    static int64_t prerollFor(const AVCodecParameters& parameters, int32_t frameSize);

  private:
    ffmpeg::CodecContextPtr openContext(const AVStream& stream, const AVCodec* codec,
                                        std::string& failure) const;
    bool seekTo(int64_t start);
    AudioReadResult positionAt(int64_t start);
    AudioReadResult readInto(int64_t start, int64_t count, float* const* planes);
    AudioReadResult readAround(int64_t start, int64_t count, float* const* planes);
    void advance(std::vector<float*>& cursor, int64_t n, AudioReadResult& result,
                 int64_t& remaining);
    bool reconfigure();
    void learnTimeline();
    int64_t positionOf(int64_t pts) const;
    // The end of the last frame decoded from `from` on, -1 when none came.
    int64_t endAfter(int64_t from);
    int64_t frameSamples() const;

    const ClipDescription* demuxer_ = nullptr;
    int32_t streamIndex_ = -1;
    ffmpeg::CodecContextPtr codecContext_;
    ffmpeg::FramePtr frame_;
    ffmpeg::PacketPtr packet_;
    SwrPtr resampler_;
    int32_t outChannels_ = 0;
    int32_t outRate_ = 0;
    int32_t streamFormat_ = -1;
    int32_t inChannels_ = 0;
    int32_t inRate_ = 0;
    int32_t inFormat_ = -1;
    bool passthrough_ = false;
    AVRational timeBase_{0, 1};
    int64_t startTime_ = 0;
    int64_t position_ = -1;
    bool endOfStream_ = false;
    bool frameHeld_ = false;
    int32_t consumed_ = 0;
    int64_t preroll_ = 0;
    int64_t length_ = -1;
    int32_t threadCount_ = 1;
    int64_t originPts_ = 0;
    // Fixed frame size and the phase of frame starts, for coarse time bases.
    int64_t gridFrame_ = 0;
    int64_t gridPhase_ = 0;
    AudioDecoderStats stats_;
};

// Host channel labels for a layout; returns min(capacity, channels).
int32_t channelLabels(const AVChannelLayout& layout, int32_t* labels, int32_t capacity);

}  // namespace kestrova
