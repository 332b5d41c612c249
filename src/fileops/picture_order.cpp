#include "fileops/picture_order.h"

#include "ffmpeg/ffmpeg_runtime.h"

namespace kestrova::fileops {

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
