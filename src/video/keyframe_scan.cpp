#include "video/keyframe_scan.h"

#include <algorithm>

#include "ffmpeg/ffmpeg_runtime.h"
#include "video/hw_devices.h"

namespace kestrova {
namespace {

constexpr int64_t kProgressEveryPackets = 256;

// A keyframe packet as an entry. Packets without timestamps (raw streams)
// are numbered by their place in the stream, and given the time that number
// stands for.
SeekIndexEntry keyframeEntry(const AVPacket& packet, int64_t packetsBefore, int64_t origin,
                             AVRational timeBase, AVRational rate) {
    const int64_t timestamp = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
    if (timestamp != AV_NOPTS_VALUE) {
        const int64_t number = frameNumberOf(timestamp, origin, timeBase, rate);
        return {timestamp, packet.pos, number >= 0 ? number : packetsBefore};
    }
    const bool timed = ffmpeg::isPositive(rate) && ffmpeg::isPositive(timeBase);
    const int64_t offset = timed ? ffmpeg::FfmpegRuntime::instance().fn().av_rescale_q(
                                       packetsBefore, AVRational{rate.den, rate.num}, timeBase)
                                 : packetsBefore;
    return {origin + offset, packet.pos, packetsBefore};
}

// Entries the resume check tries: first, middle and last.
constexpr std::size_t kResumeChecks = 3;
// Packets of other streams may come first; a demuxer that has lost its place
// gives up within this many reads.
constexpr int kResumeReadLimit = 64;

bool resumesAt(const ffmpeg::FfmpegFunctions& fn, AVFormatContext* format, int32_t streamIndex,
               const SeekIndexEntry& entry) {
    if (fn.av_seek_frame(format, streamIndex, entry.pos, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_BYTE) <
        0) {
        return false;
    }
    ffmpeg::PacketPtr packet(fn.av_packet_alloc());
    for (int read = 0; packet && read < kResumeReadLimit; ++read) {
        if (fn.av_read_frame(format, packet.get()) < 0) {
            return false;
        }
        const bool ours = packet->stream_index == streamIndex;
        const int64_t timestamp = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        // Parsers may not mark the first picture after a jump as a keyframe;
        // the same place and time say that reading resumed at it.
        const bool resumed = packet->pos == entry.pos && timestamp == entry.pts;
        fn.av_packet_unref(packet.get());
        if (ours) {
            return resumed;
        }
    }
    return false;
}

}  // namespace

bool resumesAtKeyframePositions(const ClipDescription& clip, const SeekIndex& index) {
    const auto& runtime = ffmpeg::FfmpegRuntime::instance();
    AVFormatContext* format = clip.demuxer();
    if (!runtime.available() || format == nullptr || index.entries.empty()) {
        return false;
    }
    if (format->iformat != nullptr && (format->iformat->flags & AVFMT_NOTIMESTAMPS) != 0) {
        return true;
    }
    const std::size_t last = index.entries.size() - 1;
    for (std::size_t k = 0; k < kResumeChecks; ++k) {
        const SeekIndexEntry& entry = index.entries[last * k / (kResumeChecks - 1)];
        if (!resumesAt(runtime.fn(), format, index.streamIndex, entry)) {
            return false;
        }
    }
    return true;
}

int64_t frameNumberOf(int64_t timestamp, int64_t origin, AVRational timeBase, AVRational rate) {
    const auto& runtime = ffmpeg::FfmpegRuntime::instance();
    if (!runtime.available() || !ffmpeg::isPositive(rate) || !ffmpeg::isPositive(timeBase)) {
        return -1;
    }
    int64_t elapsed = 0;
    if (__builtin_sub_overflow(timestamp, origin, &elapsed)) {
        elapsed = 0;
    }
    return std::max<int64_t>(
        0, runtime.fn().av_rescale_q(elapsed, timeBase, AVRational{rate.den, rate.num}));
}

KeyframeScan scanKeyframes(const ClipDescription& clip, int32_t streamIndex, SeekIndex& index,
                           const ScanProgress& progress) {
    KeyframeScan scan;
    index.entries.clear();
    index.streamIndex = streamIndex;
    index.fromContainer = false;
    const auto& runtime = ffmpeg::FfmpegRuntime::instance();
    AVFormatContext* format = clip.demuxer();
    const StreamInfo* info = clip.findStream(streamIndex);
    if (!runtime.available() || format == nullptr || info == nullptr) {
        scan.error = "stream " + std::to_string(streamIndex) + " is not in the file";
        return scan;
    }
    const auto& fn = runtime.fn();
    // Only this stream's packets are of interest; the others are not parsed.
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (static_cast<int32_t>(i) != streamIndex) {
            format->streams[i]->discard = AVDISCARD_ALL;
        }
    }
    const AVRational rate =
        ffmpeg::isPositive(info->averageFrameRate) ? info->averageFrameRate : info->realFrameRate;
    const int64_t origin = info->startTime != AV_NOPTS_VALUE ? info->startTime : 0;

    ffmpeg::PacketPtr packet(fn.av_packet_alloc());
    if (!packet) {
        scan.error = "out of memory";
        return scan;
    }
    int64_t lastPosition = 0;
    int result = 0;
    while ((result = fn.av_read_frame(format, packet.get())) >= 0) {
        if (packet->stream_index == streamIndex) {
            lastPosition = std::max(lastPosition, packet->pos);
            if ((packet->flags & AV_PKT_FLAG_KEY) != 0 && packet->pos >= 0) {
                index.entries.push_back(
                    keyframeEntry(*packet, scan.packets, origin, info->timeBase, rate));
            }
            ++scan.packets;
            if (progress && scan.packets % kProgressEveryPackets == 0) {
                progress(lastPosition);
            }
        }
        fn.av_packet_unref(packet.get());
    }
    if (result != AVERROR_EOF) {
        scan.error = "reading stopped early: " + avErrorText(result);
        return scan;
    }
    std::stable_sort(
        index.entries.begin(), index.entries.end(),
        [](const SeekIndexEntry& a, const SeekIndexEntry& b) { return a.pts < b.pts; });
    if (index.entries.size() > kSeekIndexMaxEntries) {
        scan.error = "more keyframes than an accelerator file can hold";
        return scan;
    }
    scan.ok = true;
    return scan;
}

}  // namespace kestrova
