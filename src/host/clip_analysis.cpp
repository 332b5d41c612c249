// imAnalysis: the human-readable description of a clip for the host's
// properties panel.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "ffmpeg/ffmpeg_runtime.h"
#include "host/analysis_text.h"
#include "host/clip_instance.h"
#include "host/clip_queries.h"
#include "pixels/host_formats.h"
#include "pixels/plane_layout.h"
#include "platform/platform.h"
#include "support/append_format.h"

namespace kestrova::host {
namespace {

const char* orUnknown(const char* name) {
    return name ? name : "?";
}

void appendContainer(std::string& text, const ClipDescription& description) {
    const std::string& longName = description.formatLongName();
    const std::string& name = description.formatName();
    if (!longName.empty()) {
        text += "Container: " + longName;
        if (!name.empty() && name != longName) {
            text += " (" + name + ")";
        }
        text += "\n";
    } else if (!name.empty()) {
        text += "Container: " + name + "\n";
    }
}

void appendVideo(std::string& text, const StreamSummary& s) {
    appendFormat(text, "Video: %dx%d", s.width, s.height);
    if (s.frameRateNum > 0 && s.frameRateDen > 0) {
        appendFormat(text, " @ %.3f fps", static_cast<double>(s.frameRateNum) / s.frameRateDen);
    }
    if (s.durationFrames > 0) {
        appendFormat(text, ", %lld frames", static_cast<long long>(s.durationFrames));
    }
    appendFormat(text, "\nPixel Aspect Ratio: %u:%u%s\n", static_cast<unsigned>(s.aspectNum),
                 static_cast<unsigned>(s.aspectDen), s.aspectMissing ? " [assumed]" : "");
    appendFormat(text, "Scan: %s%s\n", enumName(s.fieldOrder),
                 s.fieldOrderAssumed ? " [uncertain]" : "");
    appendFormat(text, "Alpha: %s%s\n", enumName(s.alphaMode),
                 s.alphaAssumed ? " [uncertain]" : "");
}

void appendColour(std::string& text, const StreamSummary& s) {
    const ffmpeg::FfmpegRuntime& runtime = ffmpeg::FfmpegRuntime::instance();
    const bool loaded = runtime.available();
    const auto& fn = runtime.fn();
    const auto primaries = static_cast<AVColorPrimaries>(s.primaries);
    const auto transfer = static_cast<AVColorTransferCharacteristic>(s.transfer);
    const auto matrix = static_cast<AVColorSpace>(s.matrix);
    appendFormat(text, "Colour: primaries=%d(%s) transfer=%d(%s) matrix=%d(%s) range=%s%s\n",
                 s.primaries, loaded ? orUnknown(fn.av_color_primaries_name(primaries)) : "?",
                 s.transfer, loaded ? orUnknown(fn.av_color_transfer_name(transfer)) : "?",
                 s.matrix, loaded ? orUnknown(fn.av_color_space_name(matrix)) : "?",
                 s.fullRange ? "full" : "limited", s.colourGuessed ? " [inferred]" : "");
    if (s.hdr) {
        appendFormat(text, "HDR: yes (%s)\n", s.transfer == AVCOL_TRC_SMPTE2084 ? "PQ" : "HLG");
    }
}

void appendBitrates(std::string& text, const ClipDescription& description) {
    bool first = true;
    for (const StreamInfo& stream : description.streams()) {
        if (stream.bitRate <= 0) {
            continue;
        }
        if (first) {
            text += "Bitrate:\n";
            first = false;
        }
        appendFormat(text, "  stream %d (%s): %lld kbit/s\n", stream.index,
                     mediaTypeName(stream.mediaType),
                     static_cast<long long>(stream.bitRate / 1000));
    }
}

void appendAudio(std::string& text, const ClipDescription& description, const StreamSummary& s) {
    const std::vector<const StreamInfo*> tracks = description.audioStreams();
    if (tracks.size() > 1) {
        appendFormat(text, "Audio Tracks: %zu\n", tracks.size());
        for (std::size_t i = 0; i < tracks.size(); ++i) {
            const StreamInfo& t = *tracks[i];
            appendFormat(text, "  %zu. stream %d: %s, %d ch, %d Hz", i + 1, t.index,
                         t.codecName.c_str(), t.channels, t.sampleRate);
            if (!t.channelLayoutText.empty()) {
                text += " (" + t.channelLayoutText + ")";
            }
            if (!t.title.empty()) {
                text += " \"" + t.title + "\"";
            }
            if (!t.language.empty()) {
                text += " [" + t.language + "]";
            }
            text += "\n";
        }
    }
    if (!s.hasAudio) {
        return;
    }
    appendFormat(text, "Audio: %d ch, %.0f Hz\n", s.channels, s.sampleRate);
    if (s.splitCount >= 2) {
        appendFormat(text, "  Split: %d channels across %d streams (", s.channels, s.splitCount);
        for (int32_t i = 0; i < s.splitCount; ++i) {
            appendFormat(text, "%s%d", i == 0 ? "" : ", ", s.channelsOfSplit(i));
        }
        text += " ch)\n";
    }
}

std::string analysisText(const ClipInstance& clip) {
    const ClipDescription& description = clip.mainDemuxer;
    const StreamSummary& s = clip.summary;
    std::string text = "File: " + clip.path + "\n";
    const auto file = platform::fileStatus(clip.path);
    if (file) {
        text += "File Size: " + fileSizeText(file->size) + "\n";
    }
    if (const int64_t duration = description.duration(); duration > 0) {
        text +=
            "Duration: " + durationText(duration) + (s.noDuration ? " [provisional]" : "") + "\n";
        if (file) {
            text += dataRateLine(file->size, duration);
        }
    }
    appendContainer(text, description);
    if (!s.codecDescription.empty()) {
        text += "Codec: " + s.codecDescription + "\n";
    }
    if (s.hasVideo) {
        appendVideo(text, s);
    }
    if (s.bitDepth > 0) {
        appendFormat(text, "Bit Depth: %d\n", s.bitDepth);
    }
    if (const StreamInfo* video = description.findStream(clip.mappedVideo);
        s.hasVideo && video && video->pixelFormat >= 0) {
        appendFormat(text, "Chroma Subsampling: %s\n", enumName(chromaClassOf(video->pixelFormat)));
    }
    appendColour(text, s);
    text += hdrMetadataText(clip.hdrMetadata);
    appendBitrates(text, description);
    if (clip.planSelected) {
        text += "PrPixelFormat: " + printableFourCC(clip.selectedPlan.format) + "\n";
        if (!clip.selectedPlan.reason.empty()) {
            text += "  Conversion: " + clip.selectedPlan.reason + "\n";
        }
    }
    appendAudio(text, description, s);
    if (const ffmpeg::FfmpegRuntime& runtime = ffmpeg::FfmpegRuntime::instance();
        runtime.available()) {
        if (!runtime.licence.empty()) {
            text += "FFmpeg licence: " + runtime.licence + "\n";
        }
        if (!runtime.fingerprint.empty()) {
            text += "FFmpeg fingerprint: " + runtime.fingerprint + "\n";
        }
    }
    return text;
}

}  // namespace

Result imAnalysisHandler(void* record) {
    using namespace analysisrec;
    LockedClip clip(record, kPrivateData);
    if (!clip || !clip->summaryBuilt) {
        return imUnsupported;
    }
    // A quiet clip has closed its demuxer, which the text describes.
    (void)clip->reopen();
    clip->probeHdrMetadata();
    const std::string text = analysisText(*clip);
    auto* buffer = readField<char*>(record, kBuffer);
    const std::size_t withTerminator = text.size() + 1;
    if (!buffer) {
        writeField<int32_t>(record, kBufferSize,
                            static_cast<int32_t>(std::min<std::size_t>(withTerminator, INT32_MAX)));
        return imNoErr;
    }
    const int32_t size = readField<int32_t>(record, kBufferSize);
    if (size > 0) {
        const std::size_t copied = std::min(static_cast<std::size_t>(size), withTerminator) - 1;
        std::memcpy(buffer, text.data(), copied);
        buffer[copied] = '\0';
    }
    return imNoErr;
}

}  // namespace kestrova::host
