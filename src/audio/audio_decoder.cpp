#include "audio/audio_decoder.h"

#include <algorithm>
#include <array>
#include <vector>

#include "platform/platform.h"
#include "support/logger.h"
#include "video/hw_devices.h"

namespace kestrova {
namespace {

constexpr int64_t kDecodeGuardFrames = 1'000'000;
// Beyond what the resampler accepts, and what any real stream carries.
constexpr int32_t kMaxChannels = 64;
// Decoding into a host buffer with holes goes through this much scratch.
constexpr int64_t kScratchChunk = 65536;

const ffmpeg::FfmpegFunctions& fn() {
    return ffmpeg::FfmpegRuntime::instance().fn();
}

AVChannelLayout unspecifiedLayout(int32_t channels) {
    AVChannelLayout layout{};
    layout.order = AV_CHANNEL_ORDER_UNSPEC;
    layout.nb_channels = channels;
    return layout;
}

// Times one read into the decoder's busy time, whatever the result.
class BusyTimer {
  public:
    explicit BusyTimer(AudioDecoderStats& stats)
        : stats_(stats), start_(platform::monotonicNanos()) {}
    ~BusyTimer() {
        stats_.busyNs += platform::monotonicNanos() - start_;
        ++stats_.readCalls;
    }
    BusyTimer(const BusyTimer&) = delete;
    BusyTimer& operator=(const BusyTimer&) = delete;

  private:
    AudioDecoderStats& stats_;
    int64_t start_;
};

}  // namespace

void SwrDeleter::operator()(SwrContext* context) const {
    if (ffmpeg::FfmpegRuntime::instance().available()) {
        fn().swr_free(&context);
    }
}

const char* statusName(AudioStatus status) {
    switch (status) {
        case AudioStatus::Ok:
            return "Ok";
        case AudioStatus::NotOpen:
            return "NotOpen";
        case AudioStatus::SeekFailed:
            return "SeekFailed";
        case AudioStatus::EndOfStream:
            return "EndOfStream";
        case AudioStatus::DecodeError:
            return "DecodeError";
    }
    return "?";
}

bool AudioDecoder::open(const ClipDescription& demuxer, int32_t streamIndex, int32_t threadCount) {
    close();
    const auto& runtime = ffmpeg::FfmpegRuntime::instance();
    AVFormatContext* format = demuxer.demuxer();
    if (!runtime.available() || !format || streamIndex < 0 ||
        static_cast<unsigned>(streamIndex) >= format->nb_streams) {
        return false;
    }
    const AVStream* stream = format->streams[streamIndex];
    if (stream->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) {
        return false;
    }
    const AVCodec* codec = fn().avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) {
        Logger::log(LogLevel::Error, "AudioDecoder: no decoder for codec id %d",
                    static_cast<int>(stream->codecpar->codec_id));
        return false;
    }
    threadCount_ = std::max(threadCount, 1);
    std::string failure;
    ffmpeg::CodecContextPtr context = openContext(*stream, codec, failure);
    if (!context) {
        Logger::log(LogLevel::Error, "AudioDecoder: avcodec_open2 failed: %s", failure.c_str());
        return false;
    }
    const int32_t channels = context->ch_layout.nb_channels;
    // Numbers from the file: the resampler and every plane count rely on them.
    if (channels < 1 || channels > kMaxChannels || context->sample_rate <= 0 ||
        context->sample_fmt < 0) {
        Logger::log(LogLevel::Error, "AudioDecoder: avcodec_open2 failed: %s",
                    "unusable channel count, sample rate or sample format");
        return false;
    }
    SwrContext* resampler = nullptr;
    int rc = fn().swr_alloc_set_opts2(&resampler, &context->ch_layout, AV_SAMPLE_FMT_FLTP,
                                      context->sample_rate, &context->ch_layout,
                                      context->sample_fmt, context->sample_rate, 0, nullptr);
    SwrPtr owned(resampler);
    if (rc < 0 || !owned) {
        Logger::log(LogLevel::Error, "AudioDecoder: swr_alloc_set_opts2 failed: %s",
                    avErrorText(rc < 0 ? rc : AVERROR(ENOMEM)).c_str());
        return false;
    }
    if ((rc = fn().swr_init(owned.get())) < 0) {
        Logger::log(LogLevel::Error, "AudioDecoder: swr_init failed: %s", avErrorText(rc).c_str());
        return false;
    }
    ffmpeg::PacketPtr packet(fn().av_packet_alloc());
    ffmpeg::FramePtr frame(fn().av_frame_alloc());
    if (!packet || !frame) {
        return false;
    }
    outChannels_ = inChannels_ = channels;
    outRate_ = inRate_ = context->sample_rate;
    streamFormat_ = inFormat_ = context->sample_fmt;
    passthrough_ = context->sample_fmt == AV_SAMPLE_FMT_FLTP;
    timeBase_ = stream->time_base;
    startTime_ = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    preroll_ = prerollFor(*stream->codecpar, context->frame_size);
    demuxer_ = &demuxer;
    streamIndex_ = streamIndex;
    codecContext_ = std::move(context);
    resampler_ = std::move(owned);
    packet_ = std::move(packet);
    frame_ = std::move(frame);
    position_ = -1;
    endOfStream_ = false;
    frameHeld_ = false;
    consumed_ = 0;
    learnTimeline();
    const char* formatName = fn().av_get_sample_fmt_name(static_cast<AVSampleFormat>(inFormat_));
    Logger::log(LogLevel::Info, "AudioDecoder: opened stream %d, %d ch, %d Hz, fmt=%s",
                streamIndex_, outChannels_, outRate_, formatName ? formatName : "?");
    return true;
}

int64_t AudioDecoder::prerollFor(const AVCodecParameters& parameters, int32_t frameSize) {
    // Every sample of a PCM stream stands alone.
    if (isPcmCodec(parameters.codec_id)) {
        return 0;
    }
    // Lossy frames overlap their neighbours, and some borrow bits from the
    // frames before: decode several frames and a tenth of a second ahead of
    // the wanted sample, and never less than the stream's own pre-roll.
    const int64_t frame = frameSize > 0 ? frameSize : 2048;
    const int64_t rate = parameters.sample_rate > 0 ? parameters.sample_rate : 48000;
    return std::max(
        {static_cast<int64_t>(std::max(parameters.seek_preroll, 0)) * 2, frame * 8, rate / 10});
}

ffmpeg::CodecContextPtr AudioDecoder::openContext(const AVStream& stream, const AVCodec* codec,
                                                  std::string& failure) const {
    ffmpeg::CodecContextPtr context(fn().avcodec_alloc_context3(codec));
    if (!context || fn().avcodec_parameters_to_context(context.get(), stream.codecpar) < 0) {
        failure = "cannot set up the codec context";
        return nullptr;
    }
    // The decoder trims priming and padding samples in this time base.
    context->pkt_timebase = stream.time_base;
    context->thread_count = threadCount_;
    context->request_sample_fmt = AV_SAMPLE_FMT_FLTP;
    if (const int rc = fn().avcodec_open2(context.get(), codec, nullptr); rc < 0) {
        failure = avErrorText(rc);
        return nullptr;
    }
    return context;
}

void AudioDecoder::close() {
    frame_.reset();
    packet_.reset();
    resampler_.reset();
    codecContext_.reset();
    demuxer_ = nullptr;
    streamIndex_ = -1;
    outChannels_ = outRate_ = inChannels_ = inRate_ = 0;
    streamFormat_ = inFormat_ = -1;
    passthrough_ = false;
    position_ = -1;
    endOfStream_ = false;
    frameHeld_ = false;
    consumed_ = 0;
    preroll_ = 0;
    length_ = -1;
    originPts_ = 0;
    gridFrame_ = gridPhase_ = 0;
    stats_.seeks = stats_.decodedSamples = stats_.configChanges = 0;
}

void AudioDecoder::learnTimeline() {
    // Sample 0 is the first sample a decode from the start delivers, after
    // the codec's priming samples were trimmed: its timestamp is the origin.
    originPts_ = startTime_;
    if (!seekTo(0) || !decodeNext()) {
        return;
    }
    const int64_t pts = frame_->pts != AV_NOPTS_VALUE ? frame_->pts : frame_->best_effort_timestamp;
    if (pts != AV_NOPTS_VALUE) {
        originPts_ = pts;
    }
    const int64_t first = frame_->nb_samples;
    // A time base coarser than one sample (milliseconds, typically) cannot
    // place a frame exactly; frames of one fixed size can, on their grid.
    const bool coarse = static_cast<int64_t>(timeBase_.num) * outRate_ > timeBase_.den;
    if (coarse && decodeNext() && frame_->nb_samples > 0) {
        gridFrame_ = frame_->nb_samples;
        gridPhase_ = first % gridFrame_;
    }
    // Finding the origin is not the caller's decoding.
    stats_.seeks = stats_.decodedSamples = 0;
    position_ = -1;
}

int64_t AudioDecoder::positionOf(int64_t pts) const {
    const int64_t raw = fn().av_rescale_q(pts - originPts_, timeBase_, AVRational{1, outRate_});
    // The first frame may be shorter than the rest (trimmed priming), so
    // only the frames after it lie on the grid.
    if (gridFrame_ <= 0 || pts == originPts_) {
        return raw;
    }
    const int64_t offset = raw - gridPhase_ + gridFrame_ / 2;
    const int64_t k =
        offset >= 0 ? offset / gridFrame_ : -((-offset + gridFrame_ - 1) / gridFrame_);
    return gridPhase_ + k * gridFrame_;
}

int64_t AudioDecoder::endAfter(int64_t from) {
    if (!seekTo(from)) {
        return -1;
    }
    int64_t end = -1;
    for (int64_t frames = 0; frames < kDecodeGuardFrames && decodeNext(); ++frames) {
        if (position_ >= 0) {
            // A frame at another rate than the output's lasts its resampled length.
            const int64_t rate = frame_->sample_rate > 0 ? frame_->sample_rate : outRate_;
            end = position_ + frameSamples() * outRate_ / rate;
        }
    }
    return end;
}

int64_t AudioDecoder::measureLength(int64_t estimate) {
    if (length_ >= 0 || !isOpen()) {
        return length_ >= 0 ? length_ : estimate;
    }
    const AudioDecoderStats before = stats_;
    // Container durations of compressed streams are often off by a frame or
    // by a bitrate guess: look from a little before the estimated end, and
    // further back while that lands past the real one.
    for (int64_t margin = 2LL * outRate_;; margin *= 4) {
        const int64_t from = std::max<int64_t>(0, estimate - margin);
        if (const int64_t end = endAfter(from); end >= 0) {
            length_ = end;
            break;
        }
        if (from == 0) {
            break;
        }
    }
    // The next read seeks to its own position.
    stats_ = before;
    position_ = -1;
    frameHeld_ = false;
    endOfStream_ = false;
    return length_ >= 0 ? length_ : estimate;
}

int64_t AudioDecoder::frameSamples() const {
    return frameHeld_ ? frame_->nb_samples : 0;
}

bool AudioDecoder::decodeNext() {
    if (!codecContext_) {
        return false;
    }
    frameHeld_ = false;
    AVFormatContext* format = demuxer_->demuxer();
    for (;;) {
        int rc = fn().avcodec_receive_frame(codecContext_.get(), frame_.get());
        if (rc >= 0) {
            break;
        }
        if (rc == AVERROR_EOF) {
            endOfStream_ = true;
            return false;
        }
        if (rc != AVERROR(EAGAIN)) {
            Logger::log(LogLevel::Warning,
                        "AudioDecoder: avcodec_receive_frame failed on stream %d: %s", streamIndex_,
                        avErrorText(rc).c_str());
            return false;
        }
        fn().av_packet_unref(packet_.get());
        rc = fn().av_read_frame(format, packet_.get());
        if (rc == AVERROR_EOF) {
            fn().avcodec_send_packet(codecContext_.get(), nullptr);
            endOfStream_ = true;
            continue;
        }
        if (rc < 0) {
            Logger::log(LogLevel::Warning, "AudioDecoder: av_read_frame failed on stream %d: %s",
                        streamIndex_, avErrorText(rc).c_str());
            return false;
        }
        if (packet_->stream_index != streamIndex_) {
            continue;
        }
        rc = fn().avcodec_send_packet(codecContext_.get(), packet_.get());
        if (rc < 0 && rc != AVERROR(EAGAIN)) {
            Logger::log(LogLevel::Warning,
                        "AudioDecoder: avcodec_send_packet failed on stream %d: %s", streamIndex_,
                        avErrorText(rc).c_str());
            return false;
        }
    }
    frameHeld_ = true;
    const int64_t pts = frame_->pts != AV_NOPTS_VALUE ? frame_->pts : frame_->best_effort_timestamp;
    if (pts != AV_NOPTS_VALUE) {
        position_ = positionOf(pts);
    }
    consumed_ = 0;
    stats_.decodedSamples += frame_->nb_samples;
    if (!reconfigure()) {
        frameHeld_ = false;
        Logger::log(LogLevel::Error, "AudioDecoder: swr reconfig failed, treating as decode error");
        return false;
    }
    return true;
}

bool AudioDecoder::reconfigure() {
    const int32_t channels = frame_->ch_layout.nb_channels;
    const int32_t rate = frame_->sample_rate;
    const int32_t format = frame_->format;
    if (channels == inChannels_ && rate == inRate_ && format == inFormat_) {
        return true;
    }
    ++stats_.configChanges;
    Logger::log(LogLevel::Warning,
                "AudioDecoder: mid-stream config change #%lld at sample pos %lld: channels "
                "%d->%d, rate %d->%d, fmt %d->%d",
                static_cast<long long>(stats_.configChanges), static_cast<long long>(position_),
                inChannels_, channels, inRate_, rate, inFormat_, format);
    if (channels < 1 || channels > kMaxChannels || rate <= 0 || format < 0) {
        Logger::log(LogLevel::Error, "AudioDecoder: swr reconfig alloc failed: %s",
                    "unusable channel count, sample rate or sample format");
        return false;
    }
    const AVChannelLayout outLayout = unspecifiedLayout(outChannels_);
    const AVChannelLayout inLayout = unspecifiedLayout(channels);
    SwrContext* resampler = nullptr;
    int rc =
        fn().swr_alloc_set_opts2(&resampler, &outLayout, AV_SAMPLE_FMT_FLTP, outRate_, &inLayout,
                                 static_cast<AVSampleFormat>(format), rate, 0, nullptr);
    SwrPtr owned(resampler);
    if (rc < 0 || !owned) {
        Logger::log(LogLevel::Error, "AudioDecoder: swr reconfig alloc failed: %s",
                    avErrorText(rc < 0 ? rc : AVERROR(ENOMEM)).c_str());
        return false;
    }
    if ((rc = fn().swr_init(owned.get())) < 0) {
        Logger::log(LogLevel::Error, "AudioDecoder: swr reconfig init failed: %s",
                    avErrorText(rc).c_str());
        return false;
    }
    resampler_ = std::move(owned);
    inChannels_ = channels;
    inRate_ = rate;
    inFormat_ = format;
    passthrough_ = format == AV_SAMPLE_FMT_FLTP && rate == outRate_ && channels == outChannels_;
    return true;
}

int64_t AudioDecoder::take(float* const* planes, int64_t maximum) {
    const int64_t n = std::min<int64_t>(maximum, frameSamples() - consumed_);
    if (!resampler_ || n <= 0) {
        return 0;
    }
    if (passthrough_) {
        for (int32_t c = 0; c < outChannels_; ++c) {
            if (planes[c]) {
                const auto* source = reinterpret_cast<const float*>(frame_->extended_data[c]);
                std::copy_n(source + consumed_, n, planes[c]);
            }
        }
        consumed_ += static_cast<int32_t>(n);
        return n;
    }
    const int bytes = fn().av_get_bytes_per_sample(static_cast<AVSampleFormat>(inFormat_));
    // Per frame: the input pointers live on the stack (channels are capped).
    std::array<const uint8_t*, kMaxChannels> inputs{};
    if (fn().av_sample_fmt_is_planar(static_cast<AVSampleFormat>(inFormat_))) {
        for (int32_t c = 0; c < inChannels_; ++c) {
            inputs[static_cast<std::size_t>(c)] =
                frame_->extended_data[c] + static_cast<int64_t>(consumed_) * bytes;
        }
    } else {
        inputs[0] =
            frame_->extended_data[0] + static_cast<int64_t>(consumed_) * inChannels_ * bytes;
    }
    const int rc = fn().swr_convert(resampler_.get(), reinterpret_cast<uint8_t* const*>(planes),
                                    static_cast<int>(maximum), inputs.data(), static_cast<int>(n));
    if (rc < 0) {
        Logger::log(LogLevel::Warning, "AudioDecoder: swr_convert error: %s",
                    avErrorText(rc).c_str());
        return 0;
    }
    consumed_ += static_cast<int32_t>(n);
    return rc;
}

bool AudioDecoder::seekTo(int64_t start) {
    const int64_t from = std::max<int64_t>(0, start - preroll_);
    const int64_t timestamp =
        fn().av_rescale_q(from, AVRational{1, outRate_}, timeBase_) + originPts_;
    AVFormatContext* format = demuxer_->demuxer();
    // The start is sought from before it, so that the packets carrying the
    // codec's priming samples are read again and trimmed as at first.
    const int64_t before = originPts_ - fn().av_rescale_q(1, AVRational{1, 1}, timeBase_);
    const bool atStart =
        from == 0 && fn().av_seek_frame(format, streamIndex_, before, AVSEEK_FLAG_BACKWARD) >= 0;
    if (!atStart && fn().av_seek_frame(format, streamIndex_, timestamp, AVSEEK_FLAG_BACKWARD) < 0) {
        return false;
    }
    // A flushed decoder keeps traces of where it was (the overlap of its
    // last frame); a fresh one decodes from here as it would from the start.
    std::string failure;
    if (ffmpeg::CodecContextPtr fresh =
            openContext(*format->streams[streamIndex_], codecContext_->codec, failure)) {
        codecContext_ = std::move(fresh);
    } else {
        fn().avcodec_flush_buffers(codecContext_.get());
    }
    ++stats_.seeks;
    endOfStream_ = false;
    position_ = -1;
    consumed_ = 0;
    frameHeld_ = false;
    fn().av_frame_unref(frame_.get());
    return true;
}

AudioReadResult AudioDecoder::positionAt(int64_t start) {
    if (position_ >= 0 && position_ == start) {
        return {};
    }
    const int64_t left = frameSamples() - consumed_;
    if (position_ >= 0 && position_ <= start && start < position_ + left) {
        consumed_ += static_cast<int32_t>(start - position_);
        position_ = start;
        return {};
    }
    if (!seekTo(start)) {
        return {AudioStatus::SeekFailed, "av_seek_frame failed", 0};
    }
    for (int64_t frames = 0; frames < kDecodeGuardFrames; ++frames) {
        if (!decodeNext()) {
            return {endOfStream_ ? AudioStatus::EndOfStream : AudioStatus::DecodeError, "", 0};
        }
        if (position_ + frameSamples() > start) {
            if (start > position_) {
                consumed_ = static_cast<int32_t>(start - position_);
            }
            position_ = start;
            return {};
        }
        position_ += frameSamples();
    }
    return {AudioStatus::DecodeError, "decode guard tripped without reaching target sample", 0};
}

AudioReadResult AudioDecoder::read(int64_t start, int64_t count, float* const* planes) {
    if (!isOpen()) {
        return {AudioStatus::NotOpen, "", 0};
    }
    if (count <= 0) {
        return {};
    }
    if (!planes) {
        return {AudioStatus::DecodeError, "no output planes", 0};
    }
    BusyTimer timer(stats_);
    const bool holes = std::find(planes, planes + outChannels_, nullptr) != planes + outChannels_;
    AudioReadResult result =
        holes ? readAround(start, count, planes) : readInto(start, count, planes);
    // Whatever was not decoded reads as silence, never as stale memory.
    for (int32_t c = 0; c < outChannels_; ++c) {
        if (planes[c] && result.samples < count) {
            std::fill(planes[c] + std::max<int64_t>(result.samples, 0), planes[c] + count, 0.0f);
        }
    }
    return result;
}

AudioReadResult AudioDecoder::readAround(int64_t start, int64_t count, float* const* planes) {
    // The resampler writes every channel, so a missing host plane gets scratch.
    std::vector<float> scratch(static_cast<std::size_t>(std::min(count, kScratchChunk)));
    AudioReadResult total;
    std::vector<float*> chunkPlanes(static_cast<std::size_t>(outChannels_));
    while (total.samples < count) {
        const int64_t chunk = std::min(count - total.samples, kScratchChunk);
        for (int32_t c = 0; c < outChannels_; ++c) {
            chunkPlanes[c] = planes[c] ? planes[c] + total.samples : scratch.data();
        }
        AudioReadResult part = readInto(start + total.samples, chunk, chunkPlanes.data());
        total.samples += part.samples;
        total.status = part.status;
        total.detail = std::move(part.detail);
        if (part.samples < chunk) {
            break;
        }
    }
    return total;
}

AudioReadResult AudioDecoder::readInto(int64_t start, int64_t count, float* const* planes) {
    if (AudioReadResult positioned = positionAt(start); positioned.status != AudioStatus::Ok) {
        return positioned;
    }
    std::vector<float*> cursor(planes, planes + outChannels_);
    AudioReadResult result;
    int64_t remaining = count;
    while (remaining > 0) {
        if (frameSamples() - consumed_ > 0) {
            const int64_t n = take(cursor.data(), remaining);
            if (n < 1) {
                break;
            }
            advance(cursor, n, result, remaining);
            continue;
        }
        if (endOfStream_) {
            break;
        }
        if (decodeNext()) {
            continue;
        }
        if (!endOfStream_) {
            result.status = AudioStatus::DecodeError;
            break;
        }
        // The resampler may still hold the end of the stream.
        if (fn().swr_get_delay(resampler_.get(), outRate_) >= 1) {
            const int n =
                fn().swr_convert(resampler_.get(), reinterpret_cast<uint8_t* const*>(cursor.data()),
                                 static_cast<int>(remaining), nullptr, 0);
            if (n > 0) {
                advance(cursor, n, result, remaining);
            }
        }
        break;
    }
    return result;
}

void AudioDecoder::advance(std::vector<float*>& cursor, int64_t n, AudioReadResult& result,
                           int64_t& remaining) {
    remaining -= n;
    result.samples += n;
    position_ += n;
    for (float*& plane : cursor) {
        if (plane) {
            plane += n;
        }
    }
}

}  // namespace kestrova
