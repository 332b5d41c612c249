#include "host/stream_summary.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "ffmpeg/ffmpeg_runtime.h"
#include "pixels/plane_layout.h"
#include "pixels/summary_pixels.h"
#include "video/field_probe.h"

namespace kestrova::host {
namespace {

constexpr int32_t kFieldProbeFrames = 30;

// Demuxers of single pictures ("image2", "png_pipe", ...), which report no duration.
bool isImageDemuxer(const std::string& name) {
    return name == "image2" || (name.size() > 5 && name.ends_with("_pipe"));
}

const StreamInfo* choose(const ClipDescription& description, int32_t choice, int32_t mediaType) {
    if (choice == kNoStream) {
        return nullptr;
    }
    if (choice == kFirstImportable) {
        const auto list = mediaType == AVMEDIA_TYPE_VIDEO ? description.videoStreams()
                                                          : description.audioStreams();
        return list.empty() ? nullptr : list.front();
    }
    const StreamInfo* stream = description.findStream(choice);
    return stream && stream->mediaType == mediaType ? stream : nullptr;
}

std::string metadataOf(const ClipDescription& description, int32_t streamIndex, const char* key) {
    const auto& runtime = ffmpeg::FfmpegRuntime::instance();
    AVFormatContext* format = description.demuxer();
    if (!runtime.available() || !format || streamIndex < 0 ||
        static_cast<unsigned>(streamIndex) >= format->nb_streams) {
        return {};
    }
    const AVDictionaryEntry* entry =
        runtime.fn().av_dict_get(format->streams[streamIndex]->metadata, key, nullptr, 0);
    return entry && entry->value ? entry->value : "";
}

// Nearest whole count of `rate` units in `durationMicros`; 0 when either is unknown.
int64_t unitsIn(double rate, int64_t durationMicros) {
    if (!(rate > 0) || durationMicros <= 0) {
        return 0;
    }
    const double units = rate * (static_cast<double>(durationMicros) / 1e6);
    return units < 9.0e18 ? std::llround(units) : 0;
}

void describeVideo(const ClipDescription& description, const StreamInfo& v, StreamSummary& s) {
    s.hasVideo = true;
    s.videoStream = v.index;
    s.width = v.width;
    s.height = v.height;
    if (ffmpeg::isPositive(v.sampleAspectRatio)) {
        const int32_t divisor = std::gcd(v.sampleAspectRatio.num, v.sampleAspectRatio.den);
        s.aspectNum = v.sampleAspectRatio.num / divisor;
        s.aspectDen = v.sampleAspectRatio.den / divisor;
    } else {
        s.aspectMissing = true;
    }
    const AVRational rate = ffmpeg::isPositive(v.averageFrameRate) ? v.averageFrameRate
                            : ffmpeg::isPositive(v.realFrameRate)  ? v.realFrameRate
                                                                   : AVRational{0, 0};
    s.frameRateNum = rate.num;
    s.frameRateDen = rate.den;
    if (rate.den > 0) {
        s.durationFrames =
            unitsIn(static_cast<double>(rate.num) / rate.den, description.duration());
    }
    s.codecDescription = codecDescription(v);
    s.title = v.title;

    s.fieldOrder = fieldOrderFromFfmpeg(v.fieldOrder);
    if (s.fieldOrder == FieldOrder::Unknown) {
        if (isProgressiveOnlyCodec(v.codecId)) {
            s.fieldOrder = FieldOrder::Progressive;
        } else {
            const FieldProbeResult probed =
                FieldProbe::probe(description.path(), v.index, kFieldProbeFrames);
            s.fieldOrderAssumed = probed.uncertain || probed.fieldOrder == FieldOrder::Unknown;
            s.fieldOrder = probed.fieldOrder == FieldOrder::Unknown ? FieldOrder::Progressive
                                                                    : probed.fieldOrder;
        }
    }
    s.alphaMode = alphaModeFor(
        pixelFormatHasAlpha(v.pixelFormat), metadataOf(description, v.index, "alpha_mode"),
        metadataOf(description, v.index, "premultiplied_alpha"), s.alphaAssumed);
    s.bitDepth = bitDepthOf(v.pixelFormat);
    const ColourTags tags =
        applyColourDefaults(v.colourPrimaries, v.colourTransfer, v.colourMatrix, v.height);
    s.primaries = tags.primaries;
    s.transfer = tags.transfer;
    s.matrix = tags.matrix;
    s.colourGuessed = tags.guessed;
    // Luma-only pictures without a range tag are full range, as FFmpeg reads them.
    s.fullRange =
        v.colourRange == AVCOL_RANGE_JPEG || (v.colourRange == AVCOL_RANGE_UNSPECIFIED &&
                                              chromaClassOf(v.pixelFormat) == ChromaClass::Mono);
    s.hdr = isHdrTransfer(s.transfer);
}

void describeAudio(const ClipDescription& description, const StreamInfo& a, StreamSummary& s) {
    s.hasAudio = true;
    s.audioStream = a.index;
    s.channels = a.channels;
    s.sampleRate = a.sampleRate;
    s.audioDuration = unitsIn(s.sampleRate, description.duration());
    s.sampleType = audioSampleType(a.codecId, a.sampleFormat, a.bitsPerRawSample);
    s.canAvoidConform = isPcmCodec(a.codecId) && description.isSeekable();
    s.splitCount = splitCountFor(a.channels);
    if (s.title.empty()) {
        s.title = a.title;
    }
}

}  // namespace

int32_t StreamSummary::channelsOfSplit(int32_t index) const {
    if (splitCount < 2 || index < 0 || index >= splitCount) {
        return channels;
    }
    return std::min(kChannelsPerSplit, channels - kChannelsPerSplit * index);
}

StreamSummary buildStreamSummary(const ClipDescription& description, int32_t videoChoice,
                                 int32_t audioChoice) {
    StreamSummary summary;
    summary.noDuration = description.durationUnknown();
    if (const StreamInfo* video = choose(description, videoChoice, AVMEDIA_TYPE_VIDEO)) {
        describeVideo(description, *video, summary);
    }
    if (const StreamInfo* audio = choose(description, audioChoice, AVMEDIA_TYPE_AUDIO)) {
        describeAudio(description, *audio, summary);
    }
    // A raw elementary stream has no duration either, yet is no still.
    const bool lengthKnown = !summary.noDuration || isImageDemuxer(description.formatName());
    summary.still = summary.durationFrames < 2 && description.audioStreams().empty() && lengthKnown;
    return summary;
}

int32_t audioSampleType(int32_t codecId, int32_t sampleFormat, int32_t bitsPerRawSample) {
    switch (codecId) {
        case AV_CODEC_ID_PCM_S16BE:
        case AV_CODEC_ID_PCM_U16BE:
        case AV_CODEC_ID_PCM_S16BE_PLANAR:
            return 8;
        case AV_CODEC_ID_PCM_S32BE:
        case AV_CODEC_ID_PCM_U32BE:
            return 10;
        case AV_CODEC_ID_PCM_S24BE:
        case AV_CODEC_ID_PCM_U24BE:
            return 9;
        case AV_CODEC_ID_PCM_F32BE:
            return 11;
        default:
            break;
    }
    if (codecId != 0 && !isPcmCodec(codecId)) {
        return 12;
    }
    switch (sampleFormat) {
        case AV_SAMPLE_FMT_U8:
        case AV_SAMPLE_FMT_U8P:
            return 1;
        case AV_SAMPLE_FMT_S16:
        case AV_SAMPLE_FMT_S16P:
            return 3;
        case AV_SAMPLE_FMT_S32:
        case AV_SAMPLE_FMT_S32P:
            return bitsPerRawSample == 24 ? 4 : 5;
        case AV_SAMPLE_FMT_FLT:
        case AV_SAMPLE_FMT_FLTP:
            return 6;
        case AV_SAMPLE_FMT_DBL:
        case AV_SAMPLE_FMT_DBLP:
            return 7;
        case AV_SAMPLE_FMT_S64:
        case AV_SAMPLE_FMT_S64P:
            return 14;
        default:
            return isPcmCodec(codecId) ? 14 : 12;
    }
}

std::string codecDescription(const StreamInfo& video) {
    std::string text = video.codecLongName.empty() ? video.codecName : video.codecLongName;
    const auto& runtime = ffmpeg::FfmpegRuntime::instance();
    const char* profile = runtime.available() && video.profile != -99
                              ? runtime.fn().avcodec_profile_name(
                                    static_cast<AVCodecID>(video.codecId), video.profile)
                              : nullptr;
    if (profile) {
        text += std::string(" (") + profile;
        if (video.level >= 0) {
            text += " @ Level " + std::to_string(video.level);
        }
        text += ")";
    } else if (video.level >= 0) {
        text += " (Level " + std::to_string(video.level) + ")";
    }
    return text;
}

StreamSummary summaryForStreams(const ClipDescription& description, int32_t video, int32_t audio) {
    return buildStreamSummary(description, video >= 0 ? video : kNoStream,
                              audio >= 0 ? audio : kNoStream);
}

}  // namespace kestrova::host
