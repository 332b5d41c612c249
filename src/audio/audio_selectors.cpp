#include "audio/audio_selectors.h"

#include <algorithm>
#include <vector>

#include "audio/audio_entry.h"
#include "platform/platform.h"
#include "support/logger.h"

namespace kestrova::host {
namespace {

// The texts that tell the random and the sequential read apart in the log.
struct ReadTexts {
    const char* selector;
    const char* reopenFailed;
    const char* reopenTag;
    const char* rejected;
    const char* noTrack;
    const char* noTrackTag;
    const char* openFailed;
    const char* openFailedTag;
    const char* splitFirstTag;
    const char* splitLaterTag;
    bool logsOpen;
};

constexpr ReadTexts kRandom{
    "imImportAudio7",
    "imImportAudio7: cannot reopen source for %s -- delivering silence",
    "imImportAudio7[reopen failed]",
    "imImportAudio7: rejecting out-of-range sample-frame count %lld for %s",
    "imImportAudio7: no audio stream bound (premiere stream %d) for %s -- delivering Empty_Audio "
    "for this stream",
    "imImportAudio7[no track]",
    "imImportAudio7: cannot open audio decoder for stream %d in %s -- delivering silence",
    "imImportAudio7[decoder open failed]",
    "imImportAudio7[split sub-stream 0]",
    "imImportAudio7[split sub-stream>0]",
    true,
};

constexpr ReadTexts kSequential{
    "imGetSequentialAudio",
    "imGetSequentialAudio: cannot reopen source for %s -- delivering silence",
    "imGetSequentialAudio[reopen failed]",
    "imGetSequentialAudio: rejecting out-of-range sample-frame count %lld for %s",
    "imGetSequentialAudio: no audio stream bound (premiere stream %d) for %s -- delivering "
    "Empty_Audio",
    "imGetSequentialAudio[no track]",
    "imGetSequentialAudio: cannot open audio decoder for stream %d in %s -- delivering silence",
    "imGetSequentialAudio[decoder open failed]",
    "imGetSequentialAudio[split]",
    "imGetSequentialAudio[split]",
    false,
};

Result silence(ClipInstance& clip, const char* tag, int64_t position, int64_t frames,
               float* const* planes) {
    const int32_t channels = splitChannels(clip).count;
    zeroPlanes(planes, channels, frames);
    Logger::log(LogLevel::Debug,
                "%s: Empty_Audio -- zero-filled %d channel(s) over pos %lld size %lld for %s", tag,
                channels, static_cast<long long>(position), static_cast<long long>(frames),
                clip.path.c_str());
    return imNoErr;
}

Result accountRead(ClipInstance& clip, const char* tag, int64_t position, int64_t frames,
                   const AudioReadResult& result) {
    AudioReadStats& stats = clip.audioStats;
    ++stats.reads;
    if (result.samples > 0) {
        stats.samplesServed += result.samples;
    }
    const int64_t now = platform::monotonicNanos();
    if (!stats.timesValid) {
        stats.firstReadNs = now;
        stats.timesValid = true;
    }
    stats.latestReadNs = now;
    const bool error =
        result.status != AudioStatus::Ok && result.status != AudioStatus::EndOfStream;
    const char* detail = result.detail.empty() ? "-" : result.detail.c_str();
    const auto pos = static_cast<long long>(position);
    const auto size = static_cast<long long>(frames);
    if (result.samples < 1) {
        if (worthLogging(++stats.emptyReads)) {
            Logger::log(LogLevel::Warning,
                        "%s: EMPTY read #%lld of %lld total -- pos %lld size %lld -> %s (%s), 0 "
                        "samples, ffmpeg audio stream %d, %lld samples served so far, %s",
                        tag, static_cast<long long>(stats.emptyReads),
                        static_cast<long long>(stats.reads), pos, size, statusName(result.status),
                        detail, clip.mappedAudio, static_cast<long long>(stats.samplesServed),
                        clip.path.c_str());
        }
    } else if (result.samples >= frames) {
        if (worthLogging(stats.reads)) {
            Logger::log(LogLevel::Info,
                        "%s: read #%lld ok -- pos %lld size %lld, ffmpeg audio stream %d, %lld "
                        "samples served so far, %s",
                        tag, static_cast<long long>(stats.reads), pos, size, clip.mappedAudio,
                        static_cast<long long>(stats.samplesServed), clip.path.c_str());
        }
    } else if (worthLogging(++stats.partialReads)) {
        Logger::log(LogLevel::Info,
                    "%s: partial read #%lld -- pos %lld asked %lld got %lld -> %s (%s), ffmpeg "
                    "audio stream %d, %s",
                    tag, static_cast<long long>(stats.partialReads), pos, size,
                    static_cast<long long>(result.samples), statusName(result.status), detail,
                    clip.mappedAudio, clip.path.c_str());
    }
    if (!error) {
        return imNoErr;
    }
    Logger::log(LogLevel::Warning, "%s: decode at pos %lld size %lld returned %s (%s) for %s", tag,
                pos, size, statusName(result.status), detail, clip.path.c_str());
    return result.samples > 0 ? imNoErr : imFailure;
}

// One plane per decoder channel: the host's planes for the channels of the
// clip's split, none (the decoder then uses scratch) for the others.
std::vector<float*> decoderPlanes(const ClipInstance& clip, float* const* host) {
    const SplitChannels split = splitChannels(clip);
    std::vector<float*> planes(static_cast<std::size_t>(clip.audioDecoder.channels()), nullptr);
    for (int32_t c = 0; c < clip.audioDecoder.channels() && host; ++c) {
        const int32_t hostChannel = c - split.offset;
        if (hostChannel >= 0 && hostChannel < split.count) {
            planes[static_cast<std::size_t>(c)] = host[hostChannel];
        }
    }
    return planes;
}

// The read both selectors share, from `position`; `delivered` gets the
// samples decoded (-1 when the read fell back to silence).
Result readAudio(ClipInstance& clip, const ReadTexts& texts, int64_t position, int64_t frames,
                 float* const* planes, int64_t& delivered) {
    delivered = -1;
    if (!clip.reopen()) {
        Logger::log(LogLevel::Error, texts.reopenFailed, clip.path.c_str());
        return silence(clip, texts.reopenTag, position, frames, planes);
    }
    if (frames > kMaxAudioReadFrames) {
        Logger::log(LogLevel::Error, texts.rejected, static_cast<long long>(frames),
                    clip.path.c_str());
        return imFailure;
    }
    if (clip.mappedAudio < 0) {
        Logger::log(LogLevel::Warning, texts.noTrack, clip.hostStreamIndex, clip.path.c_str());
        return silence(clip, texts.noTrackTag, position, frames, planes);
    }
    if (!clip.audioDecoderOpen) {
        if (!clip.openAudioDecoder()) {
            Logger::log(LogLevel::Error, texts.openFailed, clip.mappedAudio, clip.path.c_str());
            return silence(clip, texts.openFailedTag, position, frames, planes);
        }
        if (texts.logsOpen) {
            Logger::log(LogLevel::Debug,
                        "imImportAudio7: opened audio decoder for stream %d (%d ch, %d Hz) in %s",
                        clip.mappedAudio, clip.audioDecoder.channels(),
                        clip.audioDecoder.sampleRate(), clip.path.c_str());
        }
    }
    const bool split = clip.summary.splitCount >= 2 && clip.splitIndex >= 0;
    const char* tag = !split                 ? texts.selector
                      : clip.splitIndex == 0 ? texts.splitFirstTag
                                             : texts.splitLaterTag;
    const std::vector<float*> target = decoderPlanes(clip, planes);
    const AudioReadResult result = clip.audioDecoder.read(position, frames, target.data());
    delivered = result.samples;
    return accountRead(clip, tag, position, frames, result);
}

}  // namespace

Result imImportAudio7Handler(void* record) {
    AudioEntry clip(record, audiorec::kPrivateData, kRandom.selector);
    if (clip.answer) {
        return *clip.answer;
    }
    const auto position = readField<int64_t>(record, audiorec::kPosition);
    const auto frames = static_cast<int64_t>(readField<uint32_t>(record, audiorec::kFrameCount));
    const auto planes = readField<float**>(record, audiorec::kPlanes);
    int64_t delivered = 0;
    return readAudio(*clip, kRandom, position, frames, planes, delivered);
}

Result imGetSequentialAudioHandler(void* record) {
    AudioEntry clip(record, audiorec::kPrivateData, kSequential.selector);
    if (clip.answer) {
        return *clip.answer;
    }
    const auto frames = static_cast<int64_t>(readField<uint32_t>(record, audiorec::kFrameCount));
    const auto planes = readField<float**>(record, audiorec::kPlanes);
    const int64_t before = clip->sequentialPosition;
    int64_t delivered = 0;
    const Result answer = readAudio(*clip, kSequential, before, frames, planes, delivered);
    if (delivered < 0) {
        // Silence moves the host on as if the samples had been there.
        if (answer == imNoErr) {
            clip->sequentialPosition = before + frames;
        }
        return answer;
    }
    clip->sequentialPosition = before + delivered;
    if (answer == imNoErr && clip->sequentialPosition == before &&
        worthLogging(++clip->audioStats.sequentialStalls)) {
        Logger::log(LogLevel::Warning,
                    "imGetSequentialAudio: STALLED #%lld -- returned imNoErr but the read position "
                    "stayed at %lld, so the host will re-request the same chunk forever. ffmpeg "
                    "audio stream %d, %s",
                    static_cast<long long>(clip->audioStats.sequentialStalls),
                    static_cast<long long>(before), clip->mappedAudio, clip->path.c_str());
    }
    return answer;
}

Result imResetSequentialAudioHandler(void* record) {
    auto* clip = record ? readField<ClipInstance*>(record, audiorec::kPrivateData) : nullptr;
    if (!clip) {
        return imUnsupported;
    }
    // No clip lock, but counted in, so a close cannot free the clip meanwhile.
    InstanceLock counted(clip, InstanceLock::Mode::CountedOnly);
    if (!counted.counted()) {
        return imUnsupported;
    }
    clip->sequentialPosition = 0;
    Logger::log(LogLevel::Debug, "imResetSequentialAudio: reset to pos 0 for %s",
                clip->path.c_str());
    return imNoErr;
}

}  // namespace kestrova::host
