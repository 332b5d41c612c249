#include "fileops/trim_streams.h"

#include "ffmpeg/ffmpeg_runtime.h"

namespace kestrova::fileops {
namespace {

bool isSpanOfVideo(const ClipDescription& clip, const StreamInfo* stream) {
    const AVFormatContext* format = clip.demuxer();
    if (!stream || !stream->hasDecoder || stream->mediaType != AVMEDIA_TYPE_VIDEO || !format ||
        stream->index < 0 || static_cast<unsigned>(stream->index) >= format->nb_streams) {
        return false;
    }
    return (format->streams[stream->index]->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0;
}

}  // namespace

int32_t trimVideoStream(const ClipDescription& clip, int32_t mappedVideo) {
    if (const StreamInfo* mapped = clip.findStream(mappedVideo); isSpanOfVideo(clip, mapped)) {
        return mapped->index;
    }
    for (const StreamInfo* stream : clip.videoStreams()) {
        if (isSpanOfVideo(clip, stream)) {
            return stream->index;
        }
    }
    return -1;
}

bool trimKeepsPictureOrder(std::string_view muxer, const ClipDescription& clip) {
    if (muxer != "mxf") {
        return true;
    }
    const auto& fn = ffmpeg::FfmpegRuntime::instance().fn();
    for (const StreamInfo* video : clip.videoStreams()) {
        const AVCodecDescriptor* descriptor =
            fn.avcodec_descriptor_get(static_cast<AVCodecID>(video->codecId));
        if (!descriptor || (descriptor->props & AV_CODEC_PROP_INTRA_ONLY) == 0) {
            return false;
        }
    }
    return true;
}

}  // namespace kestrova::fileops
