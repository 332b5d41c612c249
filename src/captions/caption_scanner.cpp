#include "captions/caption_scanner.h"

#include <algorithm>
#include <cmath>

#include "ffmpeg/ffmpeg_ptr.h"
#include "platform/platform.h"
#include "support/logger.h"
#include "video/hw_devices.h"

namespace kestrova {
namespace {

// The scanned stream's average frame rate, else its real base rate, else the
// NTSC rate captions are most often authored at.
void takeFrameRate(const AVFormatContext* format, int32_t videoStream,
                   CaptionCacheContent& content) {
    if (videoStream < 0 || static_cast<unsigned>(videoStream) >= format->nb_streams) {
        return;
    }
    const AVStream* stream = format->streams[videoStream];
    for (const AVRational rate : {stream->avg_frame_rate, stream->r_frame_rate}) {
        if (rate.num >= 1 && rate.den >= 1) {
            content.frameRateNum = rate.num;
            content.frameRateDen = rate.den;
            return;
        }
    }
}

int64_t durationFrames(const AVFormatContext* format, const CaptionCacheContent& content) {
    if (format->duration <= 0 || format->duration == AV_NOPTS_VALUE) {
        return 0;
    }
    const double frames = static_cast<double>(content.frameRateNum) /
                          static_cast<double>(content.frameRateDen) *
                          static_cast<double>(format->duration) / 1'000'000.0;
    return frames < 9.0e18 ? static_cast<int64_t>(std::trunc(frames)) : 0;
}

}  // namespace

bool carriesA53Captions(int32_t codecId) {
    return codecId == AV_CODEC_ID_MPEG1VIDEO || codecId == AV_CODEC_ID_MPEG2VIDEO ||
           codecId == AV_CODEC_ID_H264 || codecId == AV_CODEC_ID_HEVC ||
           codecId == AV_CODEC_ID_VVC || codecId == AV_CODEC_ID_AV1;
}

bool CaptionScanner::scan(const std::string& mediaPath, int32_t videoStream,
                          const ContentState& state) {
    const ffmpeg::FfmpegRuntime& runtime = ffmpeg::FfmpegRuntime::instance();
    if (!runtime.available()) {
        return false;
    }
    const std::filesystem::path cachePath =
        state.size < 1 ? std::filesystem::path() : captionCachePathFor(mediaPath);
    const std::string cacheText = platform::utf8FromPath(cachePath);
    if (!cachePath.empty()) {
        const CaptionCacheStatus status = loadCaptionCache(cachePath, state, videoStream, content_);
        if (status == CaptionCacheStatus::Ok) {
            Logger::log(LogLevel::Info,
                        "CaptionScanner: served %zu caption(s) for %s from %s -- no scan performed",
                        content_.captions.size(), mediaPath.c_str(), cacheText.c_str());
            return !content_.captions.empty();
        }
        if (status != CaptionCacheStatus::FileNotFound) {
            Logger::log(LogLevel::Debug, "CaptionScanner: %s not usable (%s), scanning",
                        cacheText.c_str(), statusName(status));
        }
    }

    const auto& fn = runtime.fn();
    AVFormatContext* raw = nullptr;
    int code = fn.avformat_open_input(&raw, mediaPath.c_str(), nullptr, nullptr);
    const ffmpeg::FormatContextPtr format(raw);
    if (code < 0) {
        Logger::log(LogLevel::Warning, "CaptionScanner: cannot open %s: %s", mediaPath.c_str(),
                    avErrorText(code).c_str());
        return false;
    }
    code = fn.avformat_find_stream_info(raw, nullptr);
    if (code < 0) {
        Logger::log(LogLevel::Warning, "CaptionScanner: find_stream_info failed: %s",
                    avErrorText(code).c_str());
        return false;
    }
    scanMedia(raw, videoStream);
    Logger::log(LogLevel::Debug, "CaptionScanner: found %zu captions in %s",
                content_.captions.size(), mediaPath.c_str());
    if (!cachePath.empty() && !scanError_) {
        (void)saveCaptionCache(cachePath, content_, state, videoStream);
    }
    return !content_.captions.empty();
}

int64_t CaptionScanner::clipStartIn(int32_t timeBaseNum, int32_t timeBaseDen) const {
    if (timeBaseNum <= 0 || timeBaseDen <= 0 || startTimestamp_ == 0) {
        return 0;
    }
    const auto& fn = ffmpeg::FfmpegRuntime::instance().fn();
    const int64_t start = fn.av_rescale_q(startTimestamp_, {startTimeBaseNum_, startTimeBaseDen_},
                                          {timeBaseNum, timeBaseDen});
    return start == AV_NOPTS_VALUE ? 0 : start;
}

void CaptionScanner::scanMedia(AVFormatContext* format, int32_t videoStream) {
    const bool hasVideo =
        videoStream >= 0 && static_cast<unsigned>(videoStream) < format->nb_streams;
    const AVStream* video = hasVideo ? format->streams[videoStream] : nullptr;
    if (video && video->start_time != AV_NOPTS_VALUE && video->time_base.num > 0 &&
        video->time_base.den > 0) {
        startTimestamp_ = video->start_time;
        startTimeBaseNum_ = video->time_base.num;
        startTimeBaseDen_ = video->time_base.den;
    } else if (!video && format->start_time != AV_NOPTS_VALUE) {
        startTimestamp_ = format->start_time;
        startTimeBaseDen_ = AV_TIME_BASE;
    }
    takeFrameRate(format, videoStream, content_);
    content_.estimatedDurationFrames = durationFrames(format, content_);
    scanVideo(format, videoStream);
    scanSubtitles(format);
    // Equal times keep their scan order, so a rescan lists them alike.
    std::stable_sort(content_.captions.begin(), content_.captions.end(),
                     [](const Caption& a, const Caption& b) { return a.time < b.time; });
}

std::optional<Caption> CaptionScanner::takeNext(float& progress) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::vector<Caption>& captions = content_.captions;
    if (cursor_ >= captions.size()) {
        return std::nullopt;
    }
    Caption caption = captions[cursor_];
    ++cursor_;
    progress =
        static_cast<float>(static_cast<double>(cursor_) / static_cast<double>(captions.size()));
    return caption;
}

}  // namespace kestrova
