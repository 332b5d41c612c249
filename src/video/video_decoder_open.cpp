// Opening, closing and the settings of a VideoDecoder; the frame search
// lives in video_decoder.cpp.
#include <algorithm>

#include "ffmpeg/ffmpeg_runtime.h"
#include "support/logger.h"
#include "video/black_frame.h"
#include "video/decoder_common.h"
#include "video/hw_devices.h"
#include "video/video_decoder.h"

namespace kestrova {
using decoding::runtime;

namespace {

// What a quality level leaves out of decoding: the loop filter and frames.
struct Discards {
    AVDiscard loopFilter = AVDISCARD_DEFAULT;
    AVDiscard frames = AVDISCARD_DEFAULT;
};

Discards discardsFor(int32_t level) {
    switch (level) {
        case 0:
            return {AVDISCARD_ALL, AVDISCARD_NONREF};
        case 1:
            return {AVDISCARD_NONKEY, AVDISCARD_BIDIR};
        case 2:
            return {AVDISCARD_NONREF, AVDISCARD_DEFAULT};
        default:
            return {};
    }
}

}  // namespace

const char* statusName(DecodeStatus status) {
    switch (status) {
        case DecodeStatus::Ok:
            return "Ok";
        case DecodeStatus::NotOpen:
            return "NotOpen";
        case DecodeStatus::SeekFailed:
            return "SeekFailed";
        case DecodeStatus::EndOfStream:
            return "EndOfStream";
        case DecodeStatus::DecodeError:
            return "DecodeError";
        case DecodeStatus::NoFrame:
            return "NoFrame";
    }
    return "?";
}

VideoDecoder::~VideoDecoder() {
    close();
}

bool VideoDecoder::open(const ClipDescription& demuxer, int32_t streamIndex,
                        int32_t requestedThreads, bool useHardware, int32_t deviceType,
                        ThreadRole role) {
    // 1. Nothing to do without FFmpeg or an open container.
    if (!runtime().available() || demuxer.demuxer() == nullptr) {
        return false;
    }
    const auto& fn = runtime().fn();
    // 2. Start from a clean slate.
    close();
    demuxer_ = &demuxer;
    hardwareRequested_ = false;
    requestedThreads_ = requestedThreads;
    threadRole_ = role;

    // 3. The stream must be a video stream of this container.
    AVFormatContext* format = demuxer.demuxer();
    const StreamInfo* info = demuxer.findStream(streamIndex);
    if (info == nullptr || info->mediaType != AVMEDIA_TYPE_VIDEO || streamIndex < 0 ||
        static_cast<unsigned>(streamIndex) >= format->nb_streams ||
        format->streams[streamIndex] == nullptr ||
        format->streams[streamIndex]->codecpar == nullptr) {
        close();
        return false;
    }
    AVStream* stream = format->streams[streamIndex];
    const bool tryHardware = useHardware && !hw_.fallenBack;

    // 4.-5. The decoder and a context filled from the stream parameters.
    auto makeContext = [&](const AVCodec* decoder) -> bool {
        codecContext_.reset(fn.avcodec_alloc_context3(decoder));
        if (codecContext_ == nullptr ||
            fn.avcodec_parameters_to_context(codecContext_.get(), stream->codecpar) < 0) {
            codecContext_.reset();
            return false;
        }
        return true;
    };
    auto genericDecoder = [&]() -> const AVCodec* {
        const AVCodec* decoder = fn.avcodec_find_decoder(static_cast<AVCodecID>(info->codecId));
        if (decoder == nullptr) {
            Logger::log(LogLevel::Error, "no decoder for codec id %d", info->codecId);
        }
        return decoder;
    };

    const AVCodec* decoder =
        tryHardware ? findHardwareNativeDecoder(info->codecId, deviceType) : nullptr;
    bool native = decoder != nullptr;
    if (decoder == nullptr) {
        decoder = genericDecoder();
    }
    if (decoder == nullptr || !makeContext(decoder)) {
        close();
        return false;
    }

    // 6. The device, when hardware decoding is wanted.
    if (tryHardware) {
        if (!setupHardwareDevice(hw_, decoder, deviceType)) {
            if (native) {
                Logger::log(LogLevel::Info,
                            "HW decode: device init failed for %s, falling back to generic decoder",
                            decoder->name != nullptr ? decoder->name : "?");
                codecContext_.reset();
                native = false;
                decoder = genericDecoder();
                if (decoder == nullptr || !makeContext(decoder)) {
                    close();
                    return false;
                }
            }
        } else {
            AVBufferRef* device = fn.av_buffer_ref(hw_.deviceRef.get());
            if (device == nullptr) {
                Logger::log(LogLevel::Warning,
                            "HW decode: av_buffer_ref failed, falling back to software");
                declareFallback(hw_, "av_buffer_ref for hw_device_ctx failed");
            } else {
                codecContext_->hw_device_ctx = device;
                codecContext_->opaque = &hw_;
                codecContext_->get_format = hwGetFormat;
            }
        }
    }

    // Only a device in force makes a later decode error a hardware failure.
    hardwareRequested_ = tryHardware && hw_.active;
    // A reopened decoder keeps the quality it was asked for.
    const Discards discards = discardsFor(qualityLevel_);
    codecContext_->skip_loop_filter = discards.loopFilter;
    codecContext_->skip_frame = discards.frames;

    // 7. Threads from the process-wide budget.
    grantedThreads_ =
        DecodeThreadBudget::acquire(requestedThreads, hw_.active ? ThreadRole::Hardware : role);
    codecContext_->thread_count = grantedThreads_;

    // 8. Open; a hardware failure is retried once in software.
    const int opened = fn.avcodec_open2(codecContext_.get(), decoder, nullptr);
    if (opened < 0) {
        const std::string text = avErrorText(opened);
        Logger::log(LogLevel::Error, "avcodec_open2 failed: %s", text.c_str());
        if (hw_.active) {
            declareFallback(hw_, "avcodec_open2 failed with HW context: " + text);
            close();
            return open(demuxer, streamIndex, requestedThreads, false, 0, role);
        }
        close();
        return false;
    }

    // 9. The frames and the packet.
    decodeFrame_.reset(fn.av_frame_alloc());
    lastGoodFrame_.reset(fn.av_frame_alloc());
    packet_.reset(fn.av_packet_alloc());
    transferFrame_.reset(fn.av_frame_alloc());
    if (!decodeFrame_ || !lastGoodFrame_ || !packet_ || !transferFrame_) {
        close();
        return false;
    }

    // 10. Timing of the stream.
    streamIndex_ = streamIndex;
    streamTimeBase_ = stream->time_base;
    frameRate_ =
        ffmpeg::isPositive(info->averageFrameRate) ? info->averageFrameRate : info->realFrameRate;
    startPts_ = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    currentIndex_ = -1;
    const AVCodecDescriptor* descriptor = fn.avcodec_descriptor_get(codecContext_->codec_id);
    intraOnly_ = descriptor != nullptr && (descriptor->props & AV_CODEC_PROP_INTRA_ONLY) != 0;
    return true;
}

void VideoDecoder::close() {
    if (grantedThreads_ > 0) {
        DecodeThreadBudget::release(grantedThreads_);
    }
    grantedThreads_ = 0;
    codecContext_.reset();
    decodeFrame_.reset();
    lastGoodFrame_.reset();
    transferFrame_.reset();
    packet_.reset();
    currentInTransfer_ = false;
    demuxer_ = nullptr;
    streamIndex_ = -1;
    currentIndex_ = -1;
    held_ = Held::StandIn;
    picturesFromStart_ = -1;
    inputDrained_ = false;
    packetPending_ = false;
    pastEndLogged_ = false;
    undecodable_ = false;
    undecodableReported_ = false;
    gopSpacing_ = 0;
    lastKeyframeIndex_ = -1;
    frameCostEma_ = 0;
    seekCostEma_ = 0;
    pendingSeekCost_ = 0;
    afterSeek_ = false;
    landingPending_ = false;
    ambiguousIndex_ = -1;
    blackFrameBuffer_.clear();
}

bool VideoDecoder::setQuality(int32_t level) {
    if (codecContext_ == nullptr) {
        qualityLevel_ = level;
        return false;
    }
    if (level == qualityLevel_) {
        return false;
    }
    qualityLevel_ = level;
    const auto [loopFilter, frames] = discardsFor(level);
    if (codecContext_->skip_loop_filter == loopFilter && codecContext_->skip_frame == frames) {
        Logger::log(LogLevel::Debug, "setQuality: level=%d needs no codec change", level);
        return false;
    }
    if (runtime().available()) {
        runtime().fn().avcodec_flush_buffers(codecContext_.get());
    }
    currentIndex_ = -1;
    // The flush dropped pictures, so the count from the first byte is lost.
    picturesFromStart_ = -1;
    inputDrained_ = false;
    codecContext_->skip_loop_filter = loopFilter;
    codecContext_->skip_frame = frames;
    Logger::log(LogLevel::Debug, "setQuality: level=%d, skip_loop_filter=%d, skip_frame=%d", level,
                static_cast<int>(loopFilter), static_cast<int>(frames));
    return true;
}

bool VideoDecoder::generateBlackFrame() {
    if (codecContext_ == nullptr || decodeFrame_ == nullptr || !runtime().available()) {
        return false;
    }
    const auto& fn = runtime().fn();
    int32_t width = codecContext_->width;
    int32_t height = codecContext_->height;
    int32_t pixelFormat = codecContext_->pix_fmt;
    int32_t range = codecContext_->color_range;
    const AVStream* stream = nullptr;
    if (demuxer_ != nullptr && demuxer_->demuxer() != nullptr && streamIndex_ >= 0 &&
        static_cast<unsigned>(streamIndex_) < demuxer_->demuxer()->nb_streams) {
        stream = demuxer_->demuxer()->streams[streamIndex_];
    }
    if (stream != nullptr && stream->codecpar != nullptr) {
        const AVCodecParameters* parameters = stream->codecpar;
        if (width <= 0) {
            width = parameters->width;
        }
        if (height <= 0) {
            height = parameters->height;
        }
        if (pixelFormat < 0) {
            pixelFormat = parameters->format;
        }
        if (range == AVCOL_RANGE_UNSPECIFIED) {
            range = parameters->color_range;
        }
    }
    currentInTransfer_ = false;
    held_ = Held::StandIn;
    if (width < 1 || height < 1) {
        fn.av_frame_unref(decodeFrame_.get());
        return false;
    }
    if (pixelFormat < 0) {
        pixelFormat = 0;
    }
    AVFrame* frame = decodeFrame_.get();
    fn.av_frame_unref(frame);
    frame->format = pixelFormat;
    frame->width = width;
    frame->height = height;
    if (!synthesiseBlackFrame(pixelFormat, width, height, range, blackFrameBuffer_, frame->data,
                              frame->linesize)) {
        Logger::log(LogLevel::Error,
                    "generateBlackFrame: cannot synthesise a black frame for pix_fmt %d at %dx%d",
                    pixelFormat, width, height);
        fn.av_frame_unref(frame);
        return false;
    }
    frame->color_primaries = codecContext_->color_primaries;
    frame->color_trc = codecContext_->color_trc;
    frame->colorspace = codecContext_->colorspace;
    frame->color_range = static_cast<AVColorRange>(range);
    return true;
}

const AVFrame* VideoDecoder::currentFrame() const {
    return currentInTransfer_ ? transferFrame_.get() : decodeFrame_.get();
}

std::vector<LowresSize> VideoDecoder::lowresSizes() const {
    std::vector<LowresSize> sizes;
    if (codecContext_ == nullptr || codecContext_->width <= 0 || codecContext_->height <= 0) {
        return sizes;
    }
    const int32_t width = codecContext_->width;
    const int32_t height = codecContext_->height;
    sizes.push_back({width, height, 0});
    if (!runtime().available() || codecContext_->codec == nullptr) {
        return sizes;
    }
    const int32_t maxLowres = codecContext_->codec->max_lowres;
    for (int32_t lowres = 1; lowres <= maxLowres; ++lowres) {
        const int32_t w = width >> lowres;
        const int32_t h = height >> lowres;
        if (w < 1 || h < 1) {
            break;
        }
        sizes.push_back({w, h, lowres});
    }
    return sizes;
}

int32_t VideoDecoder::currentHwPixelFormat() const {
    if (!hw_.active || codecContext_ == nullptr || codecContext_->hw_frames_ctx == nullptr ||
        codecContext_->hw_frames_ctx->data == nullptr) {
        return -1;
    }
    const auto* frames =
        reinterpret_cast<const AVHWFramesContext*>(codecContext_->hw_frames_ctx->data);
    return frames->sw_format;
}

std::string VideoDecoder::decoderName() const {
    if (codecContext_ == nullptr || codecContext_->codec == nullptr ||
        codecContext_->codec->name == nullptr) {
        return "<unknown>";
    }
    return codecContext_->codec->name;
}

int64_t VideoDecoder::forwardWindow(bool intraOnly, double seekCostEma, double frameCostEma,
                                    int64_t gopSpacing) {
    if (intraOnly) {
        if (seekCostEma > 0 && frameCostEma > 0) {
            const double ratio = std::clamp(seekCostEma / frameCostEma, 1.0, 16.0);
            return static_cast<int64_t>(ratio);
        }
        return 8;
    }
    if (gopSpacing <= 0) {
        return 12;
    }
    return std::min<int64_t>(gopSpacing, 96);
}

}  // namespace kestrova
