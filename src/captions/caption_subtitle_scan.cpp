// The stream half of a caption scan: every packet of an EIA-608 stream or a
// text subtitle stream is one caption. Bitmap subtitles and teletext are
// left alone. Timed-text samples carry their text behind a length field, so
// only that text is handed on: the field's high byte would otherwise end the
// host's zero-terminated text before it starts.
#include <vector>

#include "captions/caption_scanner.h"
#include "ffmpeg/ffmpeg_ptr.h"
#include "support/logger.h"
#include "support/saturating.h"
#include "video/hw_devices.h"

namespace kestrova {
namespace {

enum class CaptionStreamKind { Ignored, Bytes, Text, TimedText };

CaptionStreamKind captionStreamKind(const AVCodecParameters* parameters) {
    if (parameters->codec_type != AVMEDIA_TYPE_SUBTITLE) {
        return CaptionStreamKind::Ignored;
    }
    switch (parameters->codec_id) {
        case AV_CODEC_ID_EIA_608:
            return CaptionStreamKind::Bytes;
        case AV_CODEC_ID_MOV_TEXT:
            return CaptionStreamKind::TimedText;
        case AV_CODEC_ID_TEXT:
        case AV_CODEC_ID_SSA:
        case AV_CODEC_ID_SUBRIP:
        case AV_CODEC_ID_WEBVTT:
        case AV_CODEC_ID_ASS:
        case AV_CODEC_ID_TTML:
            return CaptionStreamKind::Text;
        default:
            return CaptionStreamKind::Ignored;
    }
}

}  // namespace

void CaptionScanner::scanSubtitles(AVFormatContext* format) {
    std::vector<CaptionStreamKind> kinds;
    int32_t first = -1;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        kinds.push_back(captionStreamKind(format->streams[i]->codecpar));
        if (first < 0 && kinds.back() != CaptionStreamKind::Ignored) {
            first = static_cast<int32_t>(i);
        }
    }
    if (first < 0) {
        return;
    }
    const auto& fn = ffmpeg::FfmpegRuntime::instance().fn();
    (void)fn.av_seek_frame(format, first, 0, AVSEEK_FLAG_BACKWARD);
    const ffmpeg::PacketPtr packet(fn.av_packet_alloc());
    if (!packet) {
        return;
    }
    int code = 0;
    while ((code = fn.av_read_frame(format, packet.get())) >= 0) {
        const int32_t index = packet->stream_index;
        const CaptionStreamKind kind = index >= 0 && static_cast<std::size_t>(index) < kinds.size()
                                           ? kinds[static_cast<std::size_t>(index)]
                                           : CaptionStreamKind::Ignored;
        if (kind != CaptionStreamKind::Ignored && packet->size > 0) {
            const AVRational timeBase = format->streams[index]->time_base;
            Caption caption;
            caption.time = captionTime(
                packet->pts != AV_NOPTS_VALUE,
                saturatingSub(packet->pts, clipStartIn(timeBase.num, timeBase.den)), timeBase.num,
                timeBase.den, content_.frameRateNum, content_.frameRateDen);
            const auto size = static_cast<std::size_t>(packet->size);
            if (kind == CaptionStreamKind::Bytes) {
                caption.format = kCaptionFormat608;
                caption.data.assign(packet->data, packet->data + size);
            } else {
                caption.format = kCaptionFormatText;
                caption.text = kind == CaptionStreamKind::TimedText
                                   ? captionTextFromTimedTextSample(packet->data, size)
                                   : captionTextFromPayload(packet->data, size);
            }
            content_.captions.push_back(std::move(caption));
        }
        fn.av_packet_unref(packet.get());
    }
    if (code != AVERROR_EOF) {
        Logger::log(LogLevel::Warning,
                    "CaptionScanner: av_read_frame failed scanning subtitle streams: %s -- ending "
                    "the scan, keeping %zu caption(s) found so far",
                    avErrorText(code).c_str(), content_.captions.size());
        scanError_ = true;
    }
}

}  // namespace kestrova
