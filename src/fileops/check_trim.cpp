#include <string>
#include <vector>

#include "fileops/fileops_selectors.h"
#include "fileops/keyframe_seek.h"
#include "fileops/keyframe_snap.h"
#include "fileops/remux_table.h"
#include "fileops/trim_streams.h"
#include "host/clip_instance.h"
#include "support/logger.h"
#include "support/saturating.h"
#include "video/keyframe_scan.h"

namespace kestrova::host {
namespace {

// The frame number of the last keyframe shown at or before frame `in`, found
// by reading the stream's packets up to it: container indexes may list only
// some keyframes (Matroska cues name one per cluster), and a trim should keep
// as little before its in point as it can. -1 when there is none.
int64_t keyframeAtOrBefore(const std::string& path, int32_t stream, int32_t in) {
    ClipDescription own;
    const StreamInfo* info = nullptr;
    if (own.probe(path).status != ProbeStatus::Ok || !(info = own.findStream(stream))) {
        return -1;
    }
    const AVRational rate =
        ffmpeg::isPositive(info->averageFrameRate) ? info->averageFrameRate : info->realFrameRate;
    if (!ffmpeg::isPositive(rate) || !ffmpeg::isPositive(info->timeBase)) {
        return -1;
    }
    const auto& fn = ffmpeg::FfmpegRuntime::instance().fn();
    const AVRational frame{rate.den, rate.num};
    const int64_t target =
        saturatingAdd(info->startTime, fn.av_rescale_q(in, frame, info->timeBase));
    // Host frame numbers round to the nearest frame: half a frame of slack.
    const int64_t limit = saturatingAdd(target, fn.av_rescale_q(1, frame, info->timeBase) / 2);
    const int64_t found = fileops::seekToKeyframeBefore(own.demuxer(), stream, target, limit);
    return found == AV_NOPTS_VALUE ? -1
                                   : frameNumberOf(found, info->startTime, info->timeBase, rate);
}

// What the check needs of the clip, copied while the clip is entered: the
// packet scan then runs without holding the clip's lock, so the clip's
// frame and audio requests never wait for it.
struct CheckSource {
    std::string path;
    std::string container;
    int32_t videoStream = -1;
    std::vector<int64_t> indexedKeyframes;  // from the accelerator file
};

Result copyCheckSource(void* record, bool keepVideo, CheckSource& source) {
    LockedClip clip(record, checktrimrec::kPrivateData);
    if (!clip) {
        return imUnsupported;
    }
    if (!clip->reopen() || !clip->mainDemuxer.demuxer()) {
        return imTrimDeclined;
    }
    source.path = clip->path;
    source.container = clip->mainDemuxer.formatName();
    const char* muxer = fileops::muxerForDemuxer(source.container);
    if (!muxer) {
        Logger::log(
            LogLevel::Info, "imCheckTrim8: declining trim for %s (container '%s' not remuxable)",
            clip->path.c_str(), source.container.empty() ? "unknown" : source.container.c_str());
        return imTrimDeclined;
    }
    if (keepVideo && !fileops::trimKeepsPictureOrder(muxer, clip->mainDemuxer)) {
        Logger::log(LogLevel::Info,
                    "imCheckTrim8: declining trim for %s (container '%s' would reorder its "
                    "long-GOP pictures)",
                    clip->path.c_str(), source.container.c_str());
        return imTrimDeclined;
    }
    source.videoStream = fileops::trimVideoStream(clip->mainDemuxer, clip->mappedVideo);
    for (const SeekIndexEntry& entry : clip->seekIndex.entries) {
        source.indexedKeyframes.push_back(entry.frameIndex);
    }
    return imNoErr;
}

// Frame numbers of keyframes to snap to: the clip's accelerator index when
// it has one, else the keyframe found before the in point.
std::vector<int64_t> keyframeFrames(const CheckSource& source, int32_t in) {
    if (!source.indexedKeyframes.empty()) {
        return source.indexedKeyframes;
    }
    std::vector<int64_t> frames;
    if (const int64_t keyframe = keyframeAtOrBefore(source.path, source.videoStream, in);
        keyframe >= 0) {
        frames.push_back(keyframe);
    }
    return frames;
}

}  // namespace

Result imCheckTrim8Handler(void* record, void* fileAccess) {
    if (!record || !fileAccess) {
        return imUnsupported;
    }
    const bool keepVideo = readField<int32_t>(record, checktrimrec::kKeepVideo) != 0;
    CheckSource source;
    if (const Result copied = copyCheckSource(record, keepVideo, source); copied != imNoErr) {
        return copied;
    }
    const fileops::TrimSpan requested{readField<int32_t>(record, checktrimrec::kTrimIn),
                                      readField<int32_t>(record, checktrimrec::kDuration)};
    fileops::TrimSpan result = requested;
    if (!keepVideo) {
        Logger::log(LogLevel::Debug, "imCheckTrim8: audio pass, accepting in=%d dur=%d",
                    requested.in, requested.duration);
    } else if (source.videoStream >= 0) {
        result = fileops::snapToKeyframe(keyframeFrames(source, requested.in), requested);
        Logger::log(LogLevel::Debug, "imCheckTrim8: video pass for %s: in %d->%d, dur %d->%d",
                    source.path.c_str(), requested.in, result.in, requested.duration,
                    result.duration);
    }
    writeField<int32_t>(record, checktrimrec::kNewTrimIn, result.in);
    writeField<int32_t>(record, checktrimrec::kNewDuration, result.duration);
    return imNoErr;
}

}  // namespace kestrova::host
