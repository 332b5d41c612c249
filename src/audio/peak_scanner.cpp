#include "audio/peak_scanner.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

#include "audio/byte_rate_peaks.h"
#include "audio/peak_windows.h"
#include "ffmpeg/ffmpeg_ptr.h"
#include "support/logger.h"

namespace kestrova {
namespace {

// Reads go in blocks of this many windows: large for whole streams, smaller
// for a range the host waits on.
constexpr int64_t kStreamBlockWindows = 256;
constexpr int64_t kRangeBlockWindows = 64;
// About 46 hours at 200 points per second; timestamps beyond that come from
// a damaged file rather than from audio.
constexpr int64_t kMaxApproxWindows = int64_t{1} << 25;

SampleReader readerOf(AudioDecoder& decoder) {
    return [&decoder](int64_t start, int64_t count, float* const* planes) {
        return decoder.read(start, count, planes).samples;
    };
}

bool usablePointRate(double pointsPerSecond) {
    return pointsPerSecond > 0 && std::isfinite(pointsPerSecond);
}

// Back to the first packet: by time on `streamIndex`, else by byte 0.
void rewind(const ffmpeg::FfmpegFunctions& fn, AVFormatContext* format, int32_t streamIndex) {
    if (fn.avformat_seek_file(format, streamIndex, INT64_MIN, 0, INT64_MAX, 0) < 0) {
        fn.av_seek_frame(format, -1, 0, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_BYTE);
    }
}

struct ApproxStream {
    std::size_t slot;
    int32_t streamIndex;
    int32_t channels;
    ByteRatePeaks peaks;
};

// The listed streams that can be scanned, each with its window in ticks.
std::vector<ApproxStream> includedStreams(const ffmpeg::FfmpegFunctions& fn,
                                          const AVFormatContext& format,
                                          const std::vector<ApproxPeakStream>& streams,
                                          float pointsPerSecond) {
    const long perSecond = usablePointRate(pointsPerSecond)
                               ? std::lround(std::min<double>(pointsPerSecond, INT_MAX))
                               : 0;
    std::vector<ApproxStream> included;
    for (std::size_t slot = 0; slot < streams.size(); ++slot) {
        const ApproxPeakStream& listed = streams[slot];
        const AVStream* stream =
            listed.streamIndex >= 0 && static_cast<unsigned>(listed.streamIndex) < format.nb_streams
                ? format.streams[listed.streamIndex]
                : nullptr;
        if (!stream || stream->codecpar->codec_type != AVMEDIA_TYPE_AUDIO || listed.channels < 1 ||
            listed.channels > kPeakCacheMaxChannels) {
            Logger::log(LogLevel::Warning,
                        "PeakScanner::buildApproxCacheMulti: skipping stream %d (not an audio "
                        "stream with 1 to %d channels)",
                        listed.streamIndex, kPeakCacheMaxChannels);
            continue;
        }
        const int64_t window =
            perSecond >= 1 && ffmpeg::isPositive(stream->time_base)
                ? fn.av_rescale_q(1, AVRational{1, static_cast<int>(perSecond)}, stream->time_base)
                : 0;
        if (window <= 0) {
            Logger::log(LogLevel::Warning,
                        "PeakScanner::buildApproxCacheMulti: degenerate window for stream %d",
                        listed.streamIndex);
            continue;
        }
        const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
        included.push_back({slot, listed.streamIndex, listed.channels,
                            ByteRatePeaks(window, start, kMaxApproxWindows)});
    }
    return included;
}

}  // namespace

bool PeakScanner::buildCache(AudioDecoder& decoder, int32_t streamIndex, float pointsPerSecond,
                             PeakCache& out) {
    const int32_t channels = decoder.channels();
    const int32_t rate = decoder.sampleRate();
    if (channels < 1 || rate < 1 || !usablePointRate(pointsPerSecond)) {
        return false;
    }
    const int64_t window = samplesPerWindow(rate, pointsPerSecond);
    std::vector<std::vector<PeakPoint>> points(static_cast<std::size_t>(channels));
    PeakWindowFolder folder(channels, window);
    foldStream(readerOf(decoder), channels, 0, INT64_MAX, window * kStreamBlockWindows, folder,
               [&points](const std::vector<PeakPoint>& point) {
                   for (std::size_t c = 0; c < point.size(); ++c) {
                       points[c].push_back(point[c]);
                   }
               });
    const auto count = static_cast<int64_t>(points.front().size());
    if (count == 0) {
        Logger::log(LogLevel::Warning, "PeakScanner::buildCache: no samples decoded for stream %d",
                    streamIndex);
        return false;
    }
    Logger::log(LogLevel::Info,
                "PeakScanner::buildCache: built %d ch x %lld points at %.0f Hz for stream %d",
                channels, static_cast<long long>(count), double{pointsPerSecond}, streamIndex);
    out.set(streamIndex, channels, pointsPerSecond, count, std::move(points));
    return true;
}

bool PeakScanner::scanRange(AudioDecoder& decoder, int64_t start, double rate, int32_t count,
                            int32_t channels, float* const* maxima, float* const* minima) {
    if (count < 1 || channels < 1 || !(rate > 0) || !maxima || !minima || start < 0 ||
        decoder.sampleRate() < 1) {
        return false;
    }
    for (int32_t c = 0; c < channels; ++c) {
        for (float* plane : {maxima[c], minima[c]}) {
            if (plane) {
                std::fill_n(plane, count, 0.0f);
            }
        }
    }
    const double decoderRate = decoder.sampleRate();
    const int64_t window = samplesPerWindow(decoderRate, rate);
    const int64_t first = firstSampleOfPoint(start, decoderRate, rate);
    const int64_t needed = window > INT64_MAX / count ? INT64_MAX : window * count;
    PeakWindowFolder folder(std::min(decoder.channels(), channels), window);
    int32_t next = 0;
    const FoldRun run =
        foldStream(readerOf(decoder), decoder.channels(), first, needed,
                   window * kRangeBlockWindows, folder, [&](const std::vector<PeakPoint>& point) {
                       if (next >= count) {
                           return;
                       }
                       for (std::size_t c = 0; c < point.size(); ++c) {
                           if (maxima[c]) {
                               maxima[c][next] = point[c].maximum;
                           }
                           if (minima[c]) {
                               minima[c][next] = point[c].minimum;
                           }
                       }
                       ++next;
                   });
    if (run.emptyReadAt >= 0) {
        Logger::log(LogLevel::Debug, "PeakScanner: no samples decoded at pos %lld, filling zeros",
                    static_cast<long long>(run.emptyReadAt));
    }
    return true;
}

bool PeakScanner::buildApproxCacheMulti(const ClipDescription& demuxer,
                                        const std::vector<ApproxPeakStream>& streams,
                                        float pointsPerSecond, std::vector<PeakCache>& caches) {
    caches.assign(streams.size(), PeakCache{});
    const ffmpeg::FfmpegRuntime& runtime = ffmpeg::FfmpegRuntime::instance();
    AVFormatContext* format = demuxer.demuxer();
    if (!runtime.available() || !format) {
        return false;
    }
    const ffmpeg::FfmpegFunctions& fn = runtime.fn();
    std::vector<ApproxStream> included = includedStreams(fn, *format, streams, pointsPerSecond);
    ffmpeg::PacketPtr packet(fn.av_packet_alloc());
    const auto finish = [](int32_t built) {
        Logger::log(LogLevel::Info,
                    "PeakScanner::buildApproxCacheMulti: %d audio stream(s) built from ONE demux "
                    "pass",
                    built);
        return built > 0;
    };
    if (included.empty() || !packet) {
        return finish(0);
    }

    rewind(fn, format, included.front().streamIndex);
    while (fn.av_read_frame(format, packet.get()) >= 0) {
        for (ApproxStream& stream : included) {
            if (stream.streamIndex == packet->stream_index) {
                stream.peaks.add(packet->pts, packet->dts, packet->duration, packet->size);
            }
        }
        fn.av_packet_unref(packet.get());
    }
    rewind(fn, format, included.front().streamIndex);

    int32_t built = 0;
    for (ApproxStream& stream : included) {
        if (stream.peaks.truncated()) {
            Logger::log(LogLevel::Warning,
                        "PeakScanner::buildApproxCacheMulti: stream %d has packets beyond %lld "
                        "points; they are left out",
                        stream.streamIndex, static_cast<long long>(kMaxApproxWindows));
        }
        if (stream.peaks.windows() < 1 || !(stream.peaks.loudest() > 0)) {
            Logger::log(LogLevel::Warning,
                        "PeakScanner::buildApproxCacheMulti: no packets scanned for stream %d",
                        stream.streamIndex);
            continue;
        }
        std::vector<std::vector<PeakPoint>> points(static_cast<std::size_t>(stream.channels),
                                                   stream.peaks.points());
        caches[stream.slot].set(stream.streamIndex, stream.channels, pointsPerSecond,
                                stream.peaks.windows(), std::move(points));
        Logger::log(LogLevel::Info,
                    "PeakScanner::buildApproxCacheMulti: built %d ch x %lld points at %.0f Hz for "
                    "stream %d (approximate, demux-only)",
                    stream.channels, static_cast<long long>(stream.peaks.windows()),
                    double{pointsPerSecond}, stream.streamIndex);
        ++built;
    }
    return finish(built);
}

}  // namespace kestrova
