// What the host learns about an open clip: its streams and the reduced
// sizes it can be decoded at.
#include <algorithm>
#include <limits>

#include "captions/caption_scanner.h"
#include "host/clip_instance.h"
#include "host/clip_selectors.h"
#include "host/host_suites.h"
#include "host/stream_mapping.h"
#include "host/utf16_fields.h"
#include "support/logger.h"

namespace kestrova::host {
namespace {

constexpr const char* kSourceSettingsId = "com.kestrova.importer.sourcesettings";
constexpr uint32_t kRawSubType = 0x52415720;  // bytes "RAW " in a little-endian field

uint8_t alphaType(AlphaMode mode) {
    switch (mode) {
        case AlphaMode::Straight:
            return 1;
        case AlphaMode::Premultiplied:
            return 2;
        case AlphaMode::Opaque:
            return 6;
        default:
            return 5;
    }
}

bool mayCarryCaptions(const ClipDescription& description, int32_t videoStream) {
    const auto& streams = description.streams();
    if (std::any_of(streams.begin(), streams.end(),
                    [](const StreamInfo& s) { return s.mediaType == AVMEDIA_TYPE_SUBTITLE; })) {
        return true;
    }
    const StreamInfo* video = description.findStream(videoStream);
    return video && carriesA53Captions(video->codecId);
}

void fillVideo(ClipInstance& instance, const StreamSummary& s, void* record) {
    using namespace inforec;
    writeField<int32_t>(record, kWidth, s.width);
    writeField<int32_t>(record, kHeight, s.height);
    writeField<int16_t>(record, kDepth, 32);
    writeField<uint32_t>(record, kSubType, kRawSubType);
    writeField<uint8_t>(record, kFieldType, static_cast<uint8_t>(hostFieldCode(s.fieldOrder)));
    writeField<uint8_t>(record, kAlphaType, alphaType(s.alphaMode));
    writeField<uint8_t>(record, kIsStill, s.still ? 1 : 0);
    writeField<uint8_t>(record, kNoDuration, s.still ? 2 : 0);
    writeField<int32_t>(record, kAspectNum, s.aspectNum);
    writeField<int32_t>(record, kAspectDen, s.aspectDen);
    for (std::size_t offset : kVideoOnes) {
        writeField<int32_t>(record, offset, 1);
    }
    writeField<int32_t>(
        record, kDetectionFlags,
        (s.aspectMissing ? 1 : 0) | (s.fieldOrderAssumed ? 2 : 0) | (s.alphaAssumed ? 4 : 0));
    HostString codec{};
    if (createHostString(s.codecDescription, codec)) {
        writeField<HostString>(record, kCodecDescription, codec);
    }
    instance.probeEmbeddedLut();
    writeField<int32_t>(record, kHasEmbeddedLut, instance.lutBytes.empty() ? 0 : 1);
    writeField<int32_t>(record, kBitDepth, s.bitDepth);
    writeField<int32_t>(record, kFrameRateNum, s.frameRateNum);
    writeField<int32_t>(record, kFrameRateDen, s.frameRateDen);
    writeField<int32_t>(record, kDurationFrames,
                        static_cast<int32_t>(std::min<int64_t>(
                            s.durationFrames, std::numeric_limits<int32_t>::max())));
    writeField<int64_t>(record, kDurationFrames64, s.durationFrames);
}

void fillAudio(const StreamSummary& s, int32_t hostStream, int32_t split, void* record) {
    using namespace inforec;
    writeField<int32_t>(record, kChannels, s.channelsOfSplit(split));
    writeField<float>(record, kSampleRate, static_cast<float>(s.sampleRate));
    writeField<int32_t>(record, kSampleType, s.sampleType);
    writeField<int64_t>(record, kAudioDuration, s.audioDuration);
    writeField<int32_t>(record, kAudioAccessModes, 0);
    writeField<uint8_t>(record, kAudioPresent, 1);
    Logger::log(LogLevel::Info,
                "imGetInfo8 stream %d audio contract: ffmpeg stream %d, %d ch, %.0f Hz, "
                "audDuration %lld frames, accessModes 0x%x, splitCount %d, canAvoidConform %d",
                hostStream, s.audioStream, s.channelsOfSplit(split), s.sampleRate,
                static_cast<long long>(s.audioDuration), 0u, s.splitCount, s.canAvoidConform);
}

// The container's duration only estimates a compressed stream's length; the
// host is told the samples its decoder really delivers.
void measureAudioLength(ClipInstance& instance, StreamSummary& summary) {
    if (summary.hasAudio && summary.audioStream == instance.mappedAudio &&
        instance.openAudioDecoder()) {
        summary.audioDuration = instance.audioDecoder.measureLength(summary.audioDuration);
    }
}

}  // namespace

Result imGetInfo8Handler(void* fileAccess, void* record) {
    using namespace inforec;
    if (!fileAccess || !record) {
        return imFailure;
    }
    auto* instance = readField<ClipInstance*>(record, kPrivateData);
    if (!instance) {
        const bool hasPath = readField<const char16_t*>(fileAccess, fileaccess::kPath) != nullptr;
        Logger::log(LogLevel::Warning,
                    "imGetInfo8: no privatedata (imOpenFile8 not called first?) for %s -- "
                    "declining rather than creating an unowned instance",
                    hasPath ? "<path>" : "-");
        return imDeclined;
    }
    InstanceLock lock(instance, InstanceLock::Mode::OpenWhileQuieting);
    if (!lock.entered()) {
        return imFailure;
    }
    if (!instance->reopen()) {
        return imDeclined;
    }
    const ClipDescription& description = instance->mainDemuxer;
    const int32_t hostStream = readField<int32_t>(record, kStreamIndex);
    const int32_t count = hostStreamCount(description);
    const StreamMapping mapping = mapHostStream(hostStream, description);
    if (!mapping.valid) {
        return imBadStreamIndex;
    }
    StreamSummary summary = summaryForStreams(description, mapping.video, mapping.audio);
    if (hostStream == instance->hostStreamIndex) {
        measureAudioLength(*instance, summary);
        instance->storeSummary(summary, mapping);
    } else if (!instance->summaryBuilt) {
        const StreamMapping own = mapHostStream(instance->hostStreamIndex, description);
        if (own.valid) {
            instance->storeSummary(summaryForStreams(description, own.video, own.audio), own);
        }
    }
    // The record below keeps the detected values; the overrides only change
    // what the clip delivers.
    if (instance->summaryBuilt) {
        instance->applyStoredOverrides();
    }

    writeField<uint8_t>(record, kHasVideo, summary.hasVideo ? 1 : 0);
    writeField<uint8_t>(record, kHasAudio, summary.hasAudio ? 1 : 0);
    if (summary.hasVideo) {
        fillVideo(*instance, summary, record);
    }
    if (summary.hasAudio) {
        fillAudio(summary, hostStream, mapping.split, record);
    }
    const bool hostWantsNoDuration = readField<uint8_t>(record, kHostNoDurationIn) == 0;
    writeField<uint8_t>(record, kAudioNoDuration,
                        hostWantsNoDuration && summary.noDuration ? 1 : 0);
    writeField<uint8_t>(record, kReservedByte, 0);
    writeField<uint8_t>(record, kCaptionsPossible,
                        mayCarryCaptions(description, mapping.video) ? 1 : 0);
    writeUtf16Field(record, kPath, kPathUnits, instance->path);
    writeUtf16Field(record, kSettingsId, kSettingsIdUnits, kSourceSettingsId);
    Logger::log(LogLevel::Info,
                "imGetInfo8 stream %d/%d: video %d (%dx%d), audio %d (%dch %.0fHz), %s", hostStream,
                count, mapping.video, summary.width, summary.height, mapping.audio,
                summary.channels, summary.sampleRate, enumName(summary.fieldOrder));
    return hostStream + 1 < count ? imAnotherStream : imNoErr;
}

Result imGetPreferredFrameSizeHandler(void* record) {
    using namespace framesizerec;
    LockedClip instance(record, kPrivateData);
    if (!instance || !instance->reopen() || instance->mappedVideo < 0) {
        return imUnsupported;
    }
    if (!instance->openVideoDecoder()) {
        Logger::log(LogLevel::Warning, "imGetPreferredFrameSize: cannot open decoder for %s",
                    instance->path.c_str());
        return imUnsupported;
    }
    const std::vector<LowresSize> sizes = instance->videoDecoder.lowresSizes();
    if (sizes.empty()) {
        return imUnsupported;
    }
    const int32_t index = readField<int32_t>(record, kIndex);
    if (index < 0 || static_cast<std::size_t>(index) >= sizes.size()) {
        return imBadFormatIndex;
    }
    const LowresSize& size = sizes[static_cast<std::size_t>(index)];
    writeField<int32_t>(record, kWidth, size.width);
    writeField<int32_t>(record, kHeight, size.height);
    Logger::log(LogLevel::Debug, "imGetPreferredFrameSize[%d]: %dx%d (lowres=%d) for %s", index,
                size.width, size.height, size.lowres, instance->path.c_str());
    return static_cast<std::size_t>(index) + 1 < sizes.size() ? imIterateFrameSizes : imNoErr;
}

}  // namespace kestrova::host
