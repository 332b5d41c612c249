#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "ffmpeg/ffmpeg_ptr.h"
#include "fileops/fileops_selectors.h"
#include "fileops/keyframe_seek.h"
#include "fileops/remux_output.h"
#include "fileops/remux_table.h"
#include "fileops/trim_streams.h"
#include "fileops/trim_window.h"
#include "host/clip_instance.h"
#include "host/utf16_fields.h"
#include "support/logger.h"
#include "support/saturating.h"
#include "video/hw_devices.h"

namespace kestrova::host {
namespace {

using fileops::StreamRole;

struct TrimRequest {
    int32_t in = 0;
    int32_t duration = 0;
    bool keepAudio = false;
    bool keepVideo = false;
    std::string destination;
    int32_t scale = 0;
    int32_t sampleSize = 0;
    ProgressFn progress = nullptr;
    void* context = nullptr;
};

TrimRequest readRequest(const void* record) {
    TrimRequest request;
    request.in = readField<int32_t>(record, trimrec::kTrimIn);
    request.duration = readField<int32_t>(record, trimrec::kDuration);
    request.keepAudio = readField<int32_t>(record, trimrec::kKeepAudio) != 0;
    request.keepVideo = readField<int32_t>(record, trimrec::kKeepVideo) != 0;
    request.destination = readUtf16Path(readField<const char16_t*>(record, trimrec::kDestination));
    request.scale = readField<int32_t>(record, trimrec::kScale);
    request.sampleSize = readField<int32_t>(record, trimrec::kSampleSize);
    request.progress = readField<ProgressFn>(record, trimrec::kProgress);
    request.context = readField<void*>(record, trimrec::kContext);
    return request;
}

// How a trim ended.
enum class TrimEnd { Completed, Cancelled, ReadFailed, WriteFailed, NothingInSpan };

Result answerFor(TrimEnd end) {
    switch (end) {
        case TrimEnd::Completed:
            return imNoErr;
        case TrimEnd::WriteFailed:
            return imTrimWriteFailed;
        default:
            return imFailure;
    }
}

// Packets copied from one demuxer into the output, each stream's times
// shifted so that the chosen start is 0 everywhere.
class PacketCopier {
  public:
    PacketCopier(const ffmpeg::FfmpegFunctions& fn, AVFormatContext* in, AVFormatContext* out,
                 std::vector<int32_t> map, AVRational referenceBase)
        : fn_(fn), in_(in), out_(out), map_(std::move(map)), referenceBase_(referenceBase) {}

    // Writes one packet; false when the muxer refused it.
    bool write(ffmpeg::PacketPtr packet, int64_t origin) {
        const auto stream = static_cast<std::size_t>(packet->stream_index);
        const AVRational inBase = in_->streams[stream]->time_base;
        const int32_t target = map_[stream];
        const int64_t offset = fn_.av_rescale_q(origin, referenceBase_, inBase);
        if (packet->pts != AV_NOPTS_VALUE) {
            packet->pts = saturatingSub(packet->pts, offset);
        }
        if (packet->dts != AV_NOPTS_VALUE) {
            packet->dts = saturatingSub(packet->dts, offset);
        }
        // Only reordered video may start before 0. Elsewhere the origin's
        // rounding into this time base can leave a packet kept at the origin
        // a tick early, and muxers would shift every stream for it.
        if (in_->streams[stream]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) {
            packet->pts =
                packet->pts == AV_NOPTS_VALUE ? packet->pts : std::max<int64_t>(packet->pts, 0);
            packet->dts =
                packet->dts == AV_NOPTS_VALUE ? packet->dts : std::max<int64_t>(packet->dts, 0);
        }
        packet->stream_index = target;
        packet->pos = -1;
        fn_.av_packet_rescale_ts(packet.get(), inBase, out_->streams[target]->time_base);
        const int result = fn_.av_interleaved_write_frame(out_, packet.get());
        if (result < 0) {
            Logger::log(LogLevel::Error, "imTrimFile8: av_interleaved_write_frame failed: %s",
                        avErrorText(result).c_str());
            return false;
        }
        ++written_;
        return true;
    }
    int64_t written() const { return written_; }

  private:
    const ffmpeg::FfmpegFunctions& fn_;
    AVFormatContext* in_;
    AVFormatContext* out_;
    std::vector<int32_t> map_;
    AVRational referenceBase_;
    int64_t written_ = 0;
};

// Host units (sampleSize / scale seconds each) as a timestamp; 0 when the
// host's time base is unusable.
int64_t hostToTimestamp(const ffmpeg::FfmpegFunctions& fn, int64_t count,
                        const TrimRequest& request, AVRational base) {
    if (request.scale < 1 || request.sampleSize < 1) {
        return 0;
    }
    const int64_t timestamp =
        fn.av_rescale_q(count, AVRational{request.sampleSize, request.scale}, base);
    if (timestamp == AV_NOPTS_VALUE) {  // beyond the range
        return count < 0 ? kLeastTimestamp : std::numeric_limits<int64_t>::max();
    }
    return timestamp;
}

// Packets of every stream are compared in microseconds: in the reference
// stream's own time base (1/25 for many) an audio packet just before the
// start would round onto it and be kept with a negative time.
constexpr AVRational kCompareBase{1, 1'000'000};

struct Reference {
    int32_t stream = -1;
    bool video = false;
    AVRational base{1, 1};
    // The span's start in the reference's time base, and how far past it a
    // keyframe still counts as at it; for seeking.
    int64_t in = 0;
    int64_t tolerance = 0;
    // The same span in kCompareBase.
    fileops::TrimWindow window;
};

// The stream the span is measured on, and the span. Host trim points count
// from the clip's start, so the stream's own start time is added.
Reference referenceFor(const ffmpeg::FfmpegFunctions& fn, const ClipDescription& source,
                       const TrimRequest& request, int32_t videoStream) {
    Reference reference;
    const StreamInfo* video = source.findStream(videoStream);
    const auto audio = source.audioStreams();
    const StreamInfo* info = nullptr;
    if (request.keepVideo && video) {
        info = video;
    } else if (request.keepAudio && !audio.empty()) {
        info = audio.front();
    } else if (!source.streams().empty()) {
        info = &source.streams().front();
    }
    if (!info) {
        return reference;
    }
    reference.base = info->timeBase;
    const int64_t start = info->startTime;
    reference.in = saturatingAdd(start, hostToTimestamp(fn, request.in, request, reference.base));
    const int64_t out = saturatingAdd(
        start, hostToTimestamp(fn, static_cast<int64_t>(request.in) + request.duration, request,
                               reference.base));
    if ((request.keepVideo && video) || (request.keepAudio && !audio.empty())) {
        reference.stream = info->index;
        reference.video = info->mediaType == AVMEDIA_TYPE_VIDEO;
    }
    const AVRational rate =
        ffmpeg::isPositive(info->averageFrameRate) ? info->averageFrameRate : info->realFrameRate;
    if (info->mediaType == AVMEDIA_TYPE_VIDEO && ffmpeg::isPositive(rate)) {
        reference.tolerance =
            fn.av_rescale_q(1, AVRational{rate.den, rate.num}, reference.base) / 2;
    }
    reference.window.in = fn.av_rescale_q(reference.in, reference.base, kCompareBase);
    reference.window.out = fn.av_rescale_q(out, reference.base, kCompareBase);
    reference.window.tolerance = fn.av_rescale_q(reference.tolerance, reference.base, kCompareBase);
    return reference;
}

// Sends the demuxer to the span's start: for video to just before the
// keyframe the span starts from, so that keyframe is read first.
void seekToSpanStart(const ffmpeg::FfmpegFunctions& fn, AVFormatContext* format,
                     const Reference& reference) {
    if (reference.video) {
        (void)fileops::seekToKeyframeBefore(format, reference.stream, reference.in,
                                            reference.in + reference.tolerance);
        return;
    }
    const int sought =
        fn.av_seek_frame(format, reference.stream, reference.in, AVSEEK_FLAG_BACKWARD);
    if (sought < 0) {
        Logger::log(LogLevel::Warning, "imTrimFile8: av_seek_frame failed: %s (continuing anyway)",
                    avErrorText(sought).c_str());
    }
}

std::string majorBrandOf(const ClipDescription& clip) {
    for (const auto& [key, value] : clip.metadata()) {
        if (key == "major_brand") {
            return value;
        }
    }
    return {};
}

struct StreamPlan {
    std::vector<StreamRole> roles;
    std::vector<int32_t> map;
    bool any = false;
};

// One output stream per kept input stream, in input order.
Result addOutputStreams(const ffmpeg::FfmpegFunctions& fn, AVFormatContext* in,
                        AVFormatContext* out, const TrimRequest& request, StreamPlan& plan) {
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        const AVStream* source = in->streams[i];
        const AVMediaType type = source->codecpar->codec_type;
        // Cover art is one picture, not a span of video.
        const bool picture = (source->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
        const bool keep = (type == AVMEDIA_TYPE_VIDEO && request.keepVideo && !picture) ||
                          (type == AVMEDIA_TYPE_AUDIO && request.keepAudio);
        plan.roles.push_back(!keep                        ? StreamRole::Skip
                             : type == AVMEDIA_TYPE_VIDEO ? StreamRole::Video
                                                          : StreamRole::Audio);
        plan.map.push_back(-1);
        if (!keep) {
            continue;
        }
        AVStream* target = fn.avformat_new_stream(out, nullptr);
        if (!target) {
            Logger::log(LogLevel::Error, "imTrimFile8: avformat_new_stream failed");
            return imFailure;
        }
        const int copied = fn.avcodec_parameters_copy(target->codecpar, source->codecpar);
        if (copied < 0) {
            Logger::log(LogLevel::Error, "imTrimFile8: avcodec_parameters_copy failed: %s",
                        avErrorText(copied).c_str());
            return imFailure;
        }
        target->codecpar->codec_tag = 0;
        target->time_base = source->time_base;
        // Muxers that write a frame rate into their header read it here.
        target->avg_frame_rate = source->avg_frame_rate;
        target->r_frame_rate = source->r_frame_rate;
        target->sample_aspect_ratio = source->sample_aspect_ratio;
        plan.map.back() = target->index;
        plan.any = true;
    }
    return imNoErr;
}

fileops::PacketTiming timingOf(const ffmpeg::FfmpegFunctions& fn, const AVPacket& packet,
                               AVRational packetBase, AVRational referenceBase) {
    fileops::PacketTiming timing;
    timing.stream = packet.stream_index;
    timing.keyframe = (packet.flags & AV_PKT_FLAG_KEY) != 0;
    if (packet.pts != AV_NOPTS_VALUE) {
        timing.pts = fn.av_rescale_q(packet.pts, packetBase, referenceBase);
    }
    if (packet.dts != AV_NOPTS_VALUE) {
        timing.dts = fn.av_rescale_q(packet.dts, packetBase, referenceBase);
    }
    return timing;
}

struct CopyOutcome {
    TrimEnd end = TrimEnd::Completed;
    int64_t written = 0;
};

// Reads the source from the window's start and writes what the selector
// keeps, reporting progress every 100 packets.
CopyOutcome copyPackets(const ffmpeg::FfmpegFunctions& fn, AVFormatContext* in,
                        AVFormatContext* out, const StreamPlan& plan, const Reference& reference,
                        const TrimRequest& request) {
    fileops::TrimSelector<ffmpeg::PacketPtr> selector(plan.roles, reference.stream,
                                                      reference.window);
    PacketCopier copier(fn, in, out, plan.map, kCompareBase);
    const int32_t total = request.scale >= 1 && request.sampleSize >= 1 && request.duration >= 1
                              ? request.duration
                              : 1000;
    const auto writeAll = [&](std::vector<ffmpeg::PacketPtr> packets) {
        for (auto& packet : packets) {
            if (!copier.write(std::move(packet), selector.origin().value_or(0))) {
                return false;
            }
        }
        return true;
    };
    const auto ended = [&copier](TrimEnd end) { return CopyOutcome{end, copier.written()}; };
    int64_t read = 0;
    for (;;) {
        ffmpeg::PacketPtr packet(fn.av_packet_alloc());
        if (!packet) {
            Logger::log(LogLevel::Error, "imTrimFile8: cannot allocate a packet");
            return ended(TrimEnd::ReadFailed);
        }
        const int result = fn.av_read_frame(in, packet.get());
        if (result == AVERROR_EOF) {
            break;
        }
        if (result < 0) {
            Logger::log(LogLevel::Error,
                        "imTrimFile8: av_read_frame failed after %lld packet(s): %s -- the "
                        "trimmed output is incomplete",
                        static_cast<long long>(read), avErrorText(result).c_str());
            return ended(TrimEnd::ReadFailed);
        }
        ++read;
        const auto index = static_cast<std::size_t>(packet->stream_index);
        if (index >= plan.map.size() || plan.map[index] < 0) {
            continue;
        }
        const fileops::PacketTiming timing =
            timingOf(fn, *packet, in->streams[index]->time_base, kCompareBase);
        const int64_t before = copier.written();
        if (!writeAll(selector.offer(std::move(packet), timing))) {
            return ended(TrimEnd::WriteFailed);
        }
        for (int64_t count = before + 1; count <= copier.written(); ++count) {
            if (request.progress && count % 100 == 0 &&
                request.progress(static_cast<int32_t>(std::min<int64_t>(count, total)), total,
                                 request.context) == 0) {
                Logger::log(LogLevel::Info, "imTrimFile8: cancelled by user after %lld packets",
                            static_cast<long long>(count));
                return ended(TrimEnd::Cancelled);
            }
        }
        if (selector.done()) {
            break;
        }
    }
    return ended(writeAll(selector.finish()) ? TrimEnd::Completed : TrimEnd::WriteFailed);
}

// What the trim needs of the clip, copied while the clip is entered: the
// remux then runs on a demuxer of its own without holding the clip's lock,
// so the clip's frame and audio requests, and a progress callback that asks
// the clip for anything, never wait for the whole trim.
struct TrimSource {
    std::string path;
    const char* muxer = nullptr;
    int32_t videoStream = -1;
};

Result copyTrimSource(void* record, const TrimRequest& request, TrimSource& source) {
    LockedClip clip(record, trimrec::kPrivateData);
    if (!clip) {
        return imUnsupported;
    }
    if (!clip->reopen() || !ffmpeg::FfmpegRuntime::instance().available() ||
        !clip->mainDemuxer.demuxer()) {
        return imTrimDeclined;
    }
    source.path = clip->path;
    source.muxer =
        fileops::trimMuxerFor(clip->mainDemuxer.formatName(), majorBrandOf(clip->mainDemuxer));
    if (!source.muxer) {
        Logger::log(LogLevel::Info, "imTrimFile8: declining trim for %s (not remuxable)",
                    clip->path.c_str());
        return imTrimDeclined;
    }
    if (request.destination.empty()) {
        return imFailure;
    }
    if (request.keepVideo && !fileops::trimKeepsPictureOrder(source.muxer, clip->mainDemuxer)) {
        Logger::log(LogLevel::Info,
                    "imTrimFile8: declining trim for %s (%s would reorder its long-GOP pictures)",
                    clip->path.c_str(), source.muxer);
        return imTrimDeclined;
    }
    source.videoStream = fileops::trimVideoStream(clip->mainDemuxer, clip->mappedVideo);
    return imNoErr;
}

}  // namespace

Result imTrimFile8Handler(void* fileAccess, void* record) {
    if (!record || !fileAccess) {
        return imUnsupported;
    }
    const TrimRequest request = readRequest(record);
    TrimSource trim;
    if (const Result copied = copyTrimSource(record, request, trim); copied != imNoErr) {
        return copied;
    }
    const char* muxer = trim.muxer;
    Logger::log(LogLevel::Info, "imTrimFile8: trimming %s -> %s (in=%d dur=%d scale=%d/%d)",
                trim.path.c_str(), request.destination.c_str(), request.in, request.duration,
                request.scale, request.sampleSize);
    const auto& fn = ffmpeg::FfmpegRuntime::instance().fn();
    // A demuxer of the trim's own, so the clip's decoder keeps its place.
    ClipDescription source;
    if (source.probe(trim.path).status != ProbeStatus::Ok) {
        return imTrimDeclined;
    }
    fileops::RemuxOutput output;
    if (const int created = output.create(muxer, request.destination); created < 0) {
        Logger::log(LogLevel::Error, "imTrimFile8: avformat_alloc_output_context2 failed: %s",
                    avErrorText(created).c_str());
        return imTrimDeclined;
    }
    StreamPlan plan;
    if (const Result added =
            addOutputStreams(fn, source.demuxer(), output.context(), request, plan);
        added != imNoErr) {
        return added;
    }
    if (!plan.any) {
        Logger::log(LogLevel::Warning, "imTrimFile8: no streams to copy");
        return imTrimDeclined;
    }
    if (const int opened = output.open(); opened < 0) {
        Logger::log(LogLevel::Error, "imTrimFile8: avio_open2 failed: %s",
                    avErrorText(opened).c_str());
        return imTrimWriteFailed;
    }
    if (const int header = fn.avformat_write_header(output.context(), nullptr); header < 0) {
        Logger::log(LogLevel::Error, "imTrimFile8: avformat_write_header failed: %s",
                    avErrorText(header).c_str());
        return imTrimDeclined;
    }
    const Reference reference = referenceFor(fn, source, request, trim.videoStream);
    if (reference.stream >= 0 && request.in > 0) {
        seekToSpanStart(fn, source.demuxer(), reference);
    }
    const CopyOutcome copied =
        copyPackets(fn, source.demuxer(), output.context(), plan, reference, request);
    TrimEnd end = copied.end;
    // A file of headers alone is no trim: the host would link an empty clip.
    if (end == TrimEnd::Completed && copied.written == 0) {
        Logger::log(LogLevel::Error, "imTrimFile8: no packets of %s lie in the span",
                    trim.path.c_str());
        end = TrimEnd::NothingInSpan;
    }
    if (end == TrimEnd::Completed) {
        if (const int trailer = fn.av_write_trailer(output.context()); trailer < 0) {
            Logger::log(LogLevel::Error, "imTrimFile8: av_write_trailer failed: %s",
                        avErrorText(trailer).c_str());
            end = TrimEnd::WriteFailed;
        }
    }
    if (const int closed = output.close(); closed < 0 && end == TrimEnd::Completed) {
        Logger::log(LogLevel::Error, "imTrimFile8: closing %s failed: %s",
                    output.temporaryPath().c_str(), avErrorText(closed).c_str());
        end = TrimEnd::WriteFailed;
    }
    if (end == TrimEnd::Completed && !output.commit()) {
        Logger::log(LogLevel::Error, "imTrimFile8: cannot move the finished trim onto %s",
                    request.destination.c_str());
        end = TrimEnd::WriteFailed;
    }
    if (end != TrimEnd::Completed) {
        return answerFor(end);
    }
    Logger::log(LogLevel::Info, "imTrimFile8: completed, wrote %lld packets to %s",
                static_cast<long long>(copied.written), request.destination.c_str());
    return imNoErr;
}

}  // namespace kestrova::host
