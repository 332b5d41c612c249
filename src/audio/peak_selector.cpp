#include <algorithm>
#include <vector>

#include "audio/audio_entry.h"
#include "audio/audio_selectors.h"
#include "audio/peak_scanner.h"
#include "platform/platform.h"
#include "support/logger.h"

namespace kestrova::host {
namespace {

// Whole-stream caches hold this many points per second.
constexpr float kCachePointsPerSecond = 200.0f;

struct PeakRequest {
    int64_t start = 0;
    float rate = 0;
    int32_t frames = 0;
    float** maxima = nullptr;
    float** minima = nullptr;
};

Result zeroPeaks(ClipInstance& clip, const char* tag, int32_t channels,
                 const PeakRequest& request) {
    zeroPlanes(request.maxima, channels, request.frames);
    zeroPlanes(request.minima, channels, request.frames);
    Logger::log(LogLevel::Debug,
                "%s: Empty_Audio peaks -- zeroed %d channel(s) over %lld frame(s) for %s", tag,
                channels, static_cast<long long>(request.frames), clip.path.c_str());
    return imNoErr;
}

// Builds every compressed stream's peaks from packet sizes in one pass and
// keeps each in its cache file; the mapped stream's peaks are the clip's.
void buildApproximate(ClipInstance& clip, const ContentState& state) {
    std::vector<ApproxPeakStream> streams;
    for (const StreamInfo* stream : clip.mainDemuxer.audioStreams()) {
        if (!isPcmCodec(stream->codecId) && stream->channels > 0) {
            streams.push_back({stream->index, stream->channels});
        }
    }
    if (streams.empty()) {
        const StreamInfo* mapped = clip.mainDemuxer.findStream(clip.mappedAudio);
        streams.push_back({clip.mappedAudio, mapped ? mapped->channels : 0});
    }
    std::vector<PeakCache> caches;
    if (!clip.openPeakDemuxer() || !PeakScanner::buildApproxCacheMulti(
                                       clip.peakDemuxer, streams, kCachePointsPerSecond, caches)) {
        return;
    }
    for (std::size_t i = 0; i < streams.size() && i < caches.size(); ++i) {
        if (caches[i].empty()) {
            continue;
        }
        if (state.size > 0) {
            (void)caches[i].save(peakCachePathFor(clip.path, streams[i].streamIndex), state);
        }
        if (streams[i].streamIndex == clip.mappedAudio) {
            clip.peakCache = std::move(caches[i]);
        }
    }
}

// Once per clip: the peaks from the cache file, else built and saved.
void loadOrBuildPeaks(ClipInstance& clip) {
    if (clip.peakCacheAttempted) {
        return;
    }
    clip.peakCacheAttempted = true;
    const std::filesystem::path file = peakCachePathFor(clip.path, clip.mappedAudio);
    ContentState state;
    if (!file.empty() && clip.mainDemuxer.isOpen()) {
        state = contentStateOf(clip.path);
        state.streamCount = clip.mainDemuxer.demuxer()->nb_streams;
        if (state.size > 0 &&
            clip.peakCache.load(file, state, clip.mappedAudio) == PeakLoadResult::Loaded) {
            Logger::log(LogLevel::Info, "imGetPeakAudio: loaded peak cache from %s",
                        platform::utf8FromPath(file).c_str());
            return;
        }
    }
    ScopedTimer timer("imGetPeakAudio cache build", LogLevel::Info);
    const StreamInfo* mapped = clip.mainDemuxer.findStream(clip.mappedAudio);
    if (!mapped || !isPcmCodec(mapped->codecId)) {
        buildApproximate(clip, state);
        return;
    }
    if (clip.openPeakDecoder() &&
        PeakScanner::buildCache(clip.peakDecoder, clip.mappedAudio, kCachePointsPerSecond,
                                clip.peakCache) &&
        state.size > 0) {
        (void)clip.peakCache.save(file, state);
    }
}

}  // namespace

Result imGetPeakAudioHandler(void* record) {
    AudioEntry clip(record, peakrec::kPrivateData, "imGetPeakAudio");
    if (clip.answer) {
        return *clip.answer;
    }
    PeakRequest request;
    request.start = readField<int64_t>(record, peakrec::kPosition);
    request.rate = readField<float>(record, peakrec::kRate);
    request.frames = readField<int32_t>(record, peakrec::kFrames);
    request.maxima = readField<float**>(record, peakrec::kMaxima);
    request.minima = readField<float**>(record, peakrec::kMinima);
    const int32_t splitCount = splitChannels(*clip).count;
    if (!clip->reopen()) {
        Logger::log(LogLevel::Error,
                    "imGetPeakAudio: cannot reopen source for %s -- delivering zero peaks",
                    clip->path.c_str());
        return zeroPeaks(*clip, "imGetPeakAudio[reopen failed]", splitCount, request);
    }
    if (clip->mappedAudio < 0) {
        Logger::log(LogLevel::Warning,
                    "imGetPeakAudio: no audio stream for %s -- delivering Empty_Audio peaks",
                    clip->path.c_str());
        return zeroPeaks(*clip, "imGetPeakAudio[no track]", splitCount, request);
    }
    const StreamInfo* stream = clip->mainDemuxer.findStream(clip->mappedAudio);
    const int32_t channels = std::min(stream ? stream->channels : 0, splitCount);
    if (request.frames <= 0) {
        return imNoErr;
    }
    if (channels < 1) {
        return zeroPeaks(*clip, "imGetPeakAudio[no channels]", std::max(splitCount, 0), request);
    }
    Logger::log(LogLevel::Info,
                "imGetPeakAudio: start pos %lld, %d frames at %.2f Hz, %d ch, ffmpeg audio stream "
                "%d, %s",
                static_cast<long long>(request.start), request.frames,
                static_cast<double>(request.rate), channels, clip->mappedAudio, clip->path.c_str());
    ScopedTimer timer("imGetPeakAudio scan", LogLevel::Info);
    loadOrBuildPeaks(*clip);
    // The stream's channels before the clip's split get no host arrays.
    const int32_t offset = splitChannels(*clip).offset;
    std::vector<float*> maxima(static_cast<std::size_t>(offset + channels), nullptr);
    std::vector<float*> minima(maxima.size(), nullptr);
    for (int32_t c = 0; c < channels && request.maxima && request.minima; ++c) {
        maxima[static_cast<std::size_t>(offset + c)] = request.maxima[c];
        minima[static_cast<std::size_t>(offset + c)] = request.minima[c];
    }
    const int32_t wanted = offset + channels;
    if (!clip->peakCache.empty() &&
        clip->peakCache.query(request.start, request.rate, request.frames, wanted, maxima.data(),
                              minima.data())) {
        return imNoErr;
    }
    if (!clip->openPeakDecoder()) {
        Logger::log(LogLevel::Error,
                    "imGetPeakAudio: cannot open peak decoder for stream %d in %s -- delivering "
                    "zero peaks",
                    clip->mappedAudio, clip->path.c_str());
        return zeroPeaks(*clip, "imGetPeakAudio[decoder open failed]", channels, request);
    }
    if (!PeakScanner::scanRange(clip->peakDecoder, request.start, request.rate, request.frames,
                                wanted, maxima.data(), minima.data())) {
        Logger::log(LogLevel::Warning,
                    "imGetPeakAudio: computePeaks failed for %s -- delivering zero peaks",
                    clip->path.c_str());
        return zeroPeaks(*clip, "imGetPeakAudio[scan failed]", channels, request);
    }
    return imNoErr;
}

}  // namespace kestrova::host
