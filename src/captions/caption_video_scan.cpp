// The A53 half of a caption scan: decodes the clip's video (without the loop
// filter, which captions never depend on) and keeps the caption side data of
// every picture.
#include "captions/caption_scanner.h"
#include "ffmpeg/ffmpeg_ptr.h"
#include "support/logger.h"
#include "support/saturating.h"
#include "video/decode_thread_budget.h"
#include "video/hw_devices.h"

namespace kestrova {
namespace {

// A file whose first half minute carries no caption is taken to carry none.
constexpr double kCaptionlessSecondsLimit = 30.0;

// Decode threads granted from the shared budget, returned when the scan ends.
class ThreadGrant {
  public:
    ThreadGrant() : threads_(DecodeThreadBudget::acquire(0, ThreadRole::Background)) {}
    ~ThreadGrant() { DecodeThreadBudget::release(threads_); }
    ThreadGrant(const ThreadGrant&) = delete;
    ThreadGrant& operator=(const ThreadGrant&) = delete;
    int32_t threads() const { return threads_; }

  private:
    int32_t threads_;
};

struct VideoScan {
    const ffmpeg::FfmpegFunctions& fn;
    AVCodecContext* decoder;
    const AVStream* stream;
    int32_t index;
    const CaptionCacheContent& rate;
    std::vector<Caption>& captions;
    // The stream's start, from which the clip's frames are counted.
    int64_t start = 0;
    double secondsPerTick = 0;
    double elapsedSeconds = 0;

    void collect(const AVFrame* frame) {
        const AVFrameSideData* side = fn.av_frame_get_side_data(frame, AV_FRAME_DATA_A53_CC);
        if (side && side->size > 0) {
            Caption caption;
            caption.format = kCaptionFormat708;
            caption.data.assign(side->data, side->data + side->size);
            caption.time = captionTime(frame->pts != AV_NOPTS_VALUE,
                                       saturatingSub(frame->pts, start), stream->time_base.num,
                                       stream->time_base.den, rate.frameRateNum, rate.frameRateDen);
            captions.push_back(std::move(caption));
        }
        const int64_t timestamp = frame->best_effort_timestamp != AV_NOPTS_VALUE
                                      ? frame->best_effort_timestamp
                                      : frame->pts;
        if (secondsPerTick > 0 && timestamp != AV_NOPTS_VALUE) {
            elapsedSeconds = static_cast<double>(saturatingSub(timestamp, start)) * secondsPerTick;
        }
    }

    // Takes every picture the decoder has ready.
    void receive(AVFrame* frame, bool flushing) {
        for (;;) {
            const int code = fn.avcodec_receive_frame(decoder, frame);
            if (code < 0) {
                if (code != AVERROR(EAGAIN) && code != AVERROR_EOF) {
                    Logger::log(LogLevel::Debug,
                                flushing ? "CaptionScanner: avcodec_receive_frame failed flushing "
                                           "stream %d: %s"
                                         : "CaptionScanner: avcodec_receive_frame failed on stream "
                                           "%d: %s",
                                index, avErrorText(code).c_str());
                }
                return;
            }
            collect(frame);
            fn.av_frame_unref(frame);
        }
    }
};

}  // namespace

void CaptionScanner::scanVideo(AVFormatContext* format, int32_t videoStream) {
    if (videoStream < 0 || static_cast<unsigned>(videoStream) >= format->nb_streams) {
        return;
    }
    const auto& fn = ffmpeg::FfmpegRuntime::instance().fn();
    const AVStream* stream = format->streams[videoStream];
    const AVCodecID codecId = stream->codecpar->codec_id;
    if (!carriesA53Captions(codecId)) {
        Logger::log(LogLevel::Debug,
                    "CaptionScanner: %s cannot carry A53_CC side data, skipping the video scan of "
                    "stream %d entirely",
                    fn.avcodec_get_name(codecId), videoStream);
        return;
    }
    const AVCodec* codec = fn.avcodec_find_decoder(codecId);
    if (!codec) {
        Logger::log(LogLevel::Debug, "CaptionScanner: no decoder for video stream %d", videoStream);
        return;
    }
    const ffmpeg::CodecContextPtr decoder(fn.avcodec_alloc_context3(codec));
    if (!decoder || fn.avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0) {
        return;
    }
    decoder->skip_loop_filter = AVDISCARD_ALL;
    const ThreadGrant grant;
    decoder->thread_count = grant.threads();
    if (fn.avcodec_open2(decoder.get(), codec, nullptr) < 0) {
        Logger::log(LogLevel::Debug, "CaptionScanner: cannot open video decoder for stream %d",
                    videoStream);
        return;
    }
    const ffmpeg::PacketPtr packet(fn.av_packet_alloc());
    const ffmpeg::FramePtr frame(fn.av_frame_alloc());
    if (!packet || !frame) {
        return;
    }
    (void)fn.av_seek_frame(format, videoStream, 0, AVSEEK_FLAG_BACKWARD);

    VideoScan scan{fn,
                   decoder.get(),
                   stream,
                   videoStream,
                   content_,
                   content_.captions,
                   clipStartIn(stream->time_base.num, stream->time_base.den)};
    if (stream->time_base.den >= 1) {
        scan.secondsPerTick =
            static_cast<double>(stream->time_base.num) / static_cast<double>(stream->time_base.den);
    }
    int code = 0;
    while ((code = fn.av_read_frame(format, packet.get())) >= 0) {
        if (packet->stream_index != videoStream) {
            fn.av_packet_unref(packet.get());
            continue;
        }
        const int sent = fn.avcodec_send_packet(decoder.get(), packet.get());
        fn.av_packet_unref(packet.get());
        if (sent < 0) {
            Logger::log(LogLevel::Debug,
                        "CaptionScanner: avcodec_send_packet failed on stream %d: %s", videoStream,
                        avErrorText(sent).c_str());
            continue;
        }
        scan.receive(frame.get(), false);
        if (content_.captions.empty() && scan.elapsedSeconds > kCaptionlessSecondsLimit) {
            Logger::log(LogLevel::Info,
                        "CaptionScanner: no embedded captions in the first %.0f s of stream %d, "
                        "stopping instead of decoding the rest of the file",
                        kCaptionlessSecondsLimit, videoStream);
            return;
        }
    }
    if (code != AVERROR_EOF) {
        Logger::log(
            LogLevel::Warning,
            "CaptionScanner: av_read_frame failed scanning stream %d: %s -- ending the scan, "
            "keeping %zu caption(s) found so far",
            videoStream, avErrorText(code).c_str(), content_.captions.size());
        scanError_ = true;
    }
    (void)fn.avcodec_send_packet(decoder.get(), nullptr);
    scan.receive(frame.get(), true);
}

}  // namespace kestrova
