#include "fileops/keyframe_seek.h"

#include <algorithm>
#include <vector>

#include "ffmpeg/ffmpeg_ptr.h"
#include "support/saturating.h"

namespace kestrova::fileops {
namespace {

// Reads the stream's packets from where the demuxer stands until one is
// decoded after `limit`; answers the last keyframe shown at or before it.
int64_t lastKeyframeUpTo(const ffmpeg::FfmpegFunctions& fn, AVFormatContext* format, int32_t stream,
                         int64_t limit) {
    ffmpeg::PacketPtr packet(fn.av_packet_alloc());
    int64_t found = AV_NOPTS_VALUE;
    while (packet && fn.av_read_frame(format, packet.get()) >= 0) {
        const bool ours = packet->stream_index == stream;
        const bool key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
        const int64_t pts = packet->pts;
        const int64_t decoded = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
        fn.av_packet_unref(packet.get());
        if (!ours) {
            continue;
        }
        if (key && pts != AV_NOPTS_VALUE && pts <= limit) {
            found = pts;
        }
        // Decoded after the limit: no later keyframe can be shown before it.
        if (decoded != AV_NOPTS_VALUE && decoded > limit) {
            break;
        }
    }
    return found;
}

// To the start of the file: by timestamp, else by byte for demuxers that
// cannot seek by time.
void seekToStart(const ffmpeg::FfmpegFunctions& fn, AVFormatContext* format, int32_t stream) {
    const AVStream* st = format->streams[stream];
    const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    if (fn.av_seek_frame(format, stream, start, AVSEEK_FLAG_BACKWARD) < 0) {
        (void)fn.av_seek_frame(format, -1, 0, AVSEEK_FLAG_BYTE);
    }
}

}  // namespace

int64_t seekToKeyframeBefore(AVFormatContext* format, int32_t stream, int64_t target,
                             int64_t limit) {
    const auto& fn = ffmpeg::FfmpegRuntime::instance().fn();
    AVStream* st = format->streams[stream];
    const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    // Only this stream is read while looking.
    std::vector<AVDiscard> discard;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        discard.push_back(format->streams[i]->discard);
        if (static_cast<int32_t>(i) != stream) {
            format->streams[i]->discard = AVDISCARD_ALL;
        }
    }
    const int64_t second =
        std::max<int64_t>(1, fn.av_rescale_q(1, AVRational{1, 1}, st->time_base));
    int64_t found = AV_NOPTS_VALUE;
    // Back by 0, 1, 2, 4 ... seconds; doubling reaches any start long before
    // the step count runs out.
    int64_t back = 0;
    for (int step = 0; step < 64; ++step, back = back == 0 ? second : saturatingAdd(back, back)) {
        const int64_t from = saturatingSub(target, back);
        const bool atStart = step == 63 || (back > 0 && from <= start);
        if (atStart || fn.av_seek_frame(format, stream, from, AVSEEK_FLAG_BACKWARD) < 0) {
            seekToStart(fn, format, stream);
            found = lastKeyframeUpTo(fn, format, stream, limit);
            seekToStart(fn, format, stream);
            break;
        }
        found = lastKeyframeUpTo(fn, format, stream, limit);
        if (found != AV_NOPTS_VALUE) {
            (void)fn.av_seek_frame(format, stream, from, AVSEEK_FLAG_BACKWARD);
            break;
        }
    }
    // Streams the demuxer found while reading keep their own setting.
    for (std::size_t i = 0; i < discard.size() && i < format->nb_streams; ++i) {
        format->streams[i]->discard = discard[i];
    }
    return found;
}

}  // namespace kestrova::fileops
