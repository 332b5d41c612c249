// Keyframe lists taken from the container's own index through FFmpeg, apart
// from the file reader so that the reader builds without FFmpeg.
#include "video/seek_index.h"

#include <algorithm>
#include <new>

#include "ffmpeg/ffmpeg_runtime.h"
#include "support/logger.h"
#include "video/keyframe_scan.h"

namespace kestrova {

int32_t SeekIndex::buildFromContainer(AVFormatContext* format, int32_t stream) {
    entries.clear();
    streamIndex = stream;
    fromContainer = false;
    if (!format || stream < 0 || static_cast<unsigned>(stream) >= format->nb_streams ||
        !format->streams) {
        return -1;
    }
    const auto& runtime = ffmpeg::FfmpegRuntime::instance();
    if (!runtime.available()) {
        return -1;
    }
    const auto& fn = runtime.fn();
    AVStream* st = format->streams[stream];
    if (!st) {
        return -1;
    }
    const int count = fn.avformat_index_get_entries_count(st);
    if (count <= 0) {
        Logger::log(LogLevel::Debug, "SeekIndex: demuxer exposes no index entries for stream %d",
                    stream);
        return 0;
    }
    fromContainer = true;

    const AVRational rate =
        ffmpeg::isPositive(st->avg_frame_rate) ? st->avg_frame_rate : st->r_frame_rate;

    // Frame numbers count from the earliest keyframe, or the stream start
    // when that comes first.
    int64_t origin = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time;
    for (int i = 0; i < count; ++i) {
        const AVIndexEntry* entry = fn.avformat_index_get_entry(st, i);
        if (!entry) {
            break;
        }
        if ((entry->flags & AVINDEX_KEYFRAME) && entry->timestamp != AV_NOPTS_VALUE) {
            origin = std::min(origin, entry->timestamp);
        }
    }

    try {
        entries.reserve(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        // Growing as entries arrive still works; only the up-front block failed.
    }
    for (int i = 0; i < count; ++i) {
        const AVIndexEntry* entry = fn.avformat_index_get_entry(st, i);
        if (!entry) {
            break;
        }
        if (!(entry->flags & AVINDEX_KEYFRAME) || entry->timestamp == AV_NOPTS_VALUE) {
            continue;
        }
        const int64_t number = frameNumberOf(entry->timestamp, origin, st->time_base, rate);
        entries.push_back({entry->timestamp, entry->pos,
                           number >= 0 ? number : static_cast<int64_t>(entries.size())});
    }
    std::stable_sort(
        entries.begin(), entries.end(),
        [](const SeekIndexEntry& a, const SeekIndexEntry& b) { return a.pts < b.pts; });
    const int32_t taken = static_cast<int32_t>(entries.size());
    Logger::log(LogLevel::Info,
                "SeekIndex: took %d keyframe(s) from the container's own index for stream %d (no "
                "file scan)",
                taken, stream);
    return taken;
}

}  // namespace kestrova
