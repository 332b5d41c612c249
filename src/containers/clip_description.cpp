#include "containers/clip_description.h"

#include <cstring>

extern "C" {
#include <libavutil/stereo3d.h>
}

#include "support/logger.h"
#include "video/hw_devices.h"

namespace kestrova {
namespace {

using ffmpeg::FfmpegRuntime;

std::string text(const char* value) {
    return value ? value : "";
}

std::string metadataValue(const FfmpegRuntime& runtime, AVDictionary* dictionary, const char* key) {
    const AVDictionaryEntry* entry = runtime.fn().av_dict_get(dictionary, key, nullptr, 0);
    return entry ? text(entry->value) : std::string();
}

// Stereo 3D side data is only trusted when the payload covers the whole
// structure this build was compiled against.
bool readCodedStereo(const AVCodecParameters& parameters, StreamInfo& info) {
    for (int i = 0; i < parameters.nb_coded_side_data; ++i) {
        const AVPacketSideData& side = parameters.coded_side_data[i];
        if (side.type != AV_PKT_DATA_STEREO3D || !side.data || side.size < 36) {
            continue;
        }
        AVStereo3D stereo;
        std::memcpy(&stereo, side.data, std::min(side.size, sizeof stereo));
        info.stereoPresent = true;
        info.stereoType = stereo.type;
        info.stereoView = stereo.view;
        info.stereoInverted = (stereo.flags & AV_STEREO3D_FLAG_INVERT) != 0;
        return true;
    }
    return false;
}

void fillVideo(const FfmpegRuntime& runtime, const AVStream& stream, StreamInfo& info) {
    const AVCodecParameters& p = *stream.codecpar;
    info.width = p.width;
    info.height = p.height;
    info.pixelFormat = p.format;
    info.sampleAspectRatio = p.sample_aspect_ratio;
    info.averageFrameRate = stream.avg_frame_rate;
    info.realFrameRate = stream.r_frame_rate;
    info.profile = p.profile;
    info.level = p.level;
    info.colourPrimaries = p.color_primaries;
    info.colourTransfer = p.color_trc;
    info.colourMatrix = p.color_space;
    info.colourRange = p.color_range;
    info.chromaLocation = p.chroma_location;
    info.fieldOrder = p.field_order;
    info.videoDelay = p.video_delay;
    if (readCodedStereo(p, info)) {
        return;
    }
    if (const auto tag =
            stereoFromMetadata(metadataValue(runtime, stream.metadata, "stereo_mode"))) {
        info.stereoPresent = true;
        info.stereoType = tag->type;
        info.stereoView = tag->view;
    }
}

void fillAudio(const FfmpegRuntime& runtime, const AVCodecParameters& p, StreamInfo& info) {
    info.channels = p.ch_layout.nb_channels;
    info.sampleRate = p.sample_rate;
    info.sampleFormat = p.format;
    char layout[256] = {};
    if (runtime.fn().av_channel_layout_describe(&p.ch_layout, layout, sizeof layout) > 0) {
        info.channelLayoutText = layout;
    }
}

StreamInfo describeStream(const FfmpegRuntime& runtime, const AVStream& stream) {
    const auto& fn = runtime.fn();
    const AVCodecParameters& p = *stream.codecpar;
    StreamInfo info;
    info.index = stream.index;
    info.mediaType = p.codec_type;
    info.codecId = p.codec_id;
    info.timeBase = stream.time_base;
    info.duration = stream.duration == AV_NOPTS_VALUE ? 0 : stream.duration;
    info.startTime = stream.start_time == AV_NOPTS_VALUE ? 0 : stream.start_time;
    info.bitRate = p.bit_rate;
    info.isDefault = (stream.disposition & 1) != 0;
    info.bitsPerRawSample = p.bits_per_raw_sample;
    if (const AVCodec* decoder = fn.avcodec_find_decoder(p.codec_id)) {
        info.hasDecoder = true;
        info.codecName = text(decoder->name);
        info.codecLongName = decoder->long_name ? decoder->long_name : info.codecName;
    } else {
        info.codecName = info.codecLongName = text(fn.avcodec_get_name(p.codec_id));
    }
    const AVCodecDescriptor* descriptor = fn.avcodec_descriptor_get(p.codec_id);
    if (descriptor && descriptor->long_name) {
        info.codecLongName = descriptor->long_name;
    }
    info.title = metadataValue(runtime, stream.metadata, "title");
    info.language = metadataValue(runtime, stream.metadata, "language");
    if (p.codec_type == AVMEDIA_TYPE_AUDIO) {
        fillAudio(runtime, p, info);
    } else if (p.codec_type == AVMEDIA_TYPE_VIDEO) {
        fillVideo(runtime, stream, info);
    }
    return info;
}

// The streams of `mediaType` that have a decoder, in container order.
std::vector<const StreamInfo*> decodableStreams(const std::vector<StreamInfo>& streams,
                                                int32_t mediaType) {
    std::vector<const StreamInfo*> found;
    for (const StreamInfo& s : streams) {
        if (s.mediaType == mediaType && s.hasDecoder) {
            found.push_back(&s);
        }
    }
    return found;
}

bool isLeft(const StreamInfo& s) {
    return s.stereoView == 1 || (s.stereoView == 0 && !s.stereoInverted);
}
bool isRight(const StreamInfo& s) {
    return s.stereoView == 2 || (s.stereoView == 0 && s.stereoInverted);
}

}  // namespace

const char* statusName(ProbeStatus status) {
    switch (status) {
        case ProbeStatus::Ok:
            return "Ok";
        case ProbeStatus::RuntimeUnavailable:
            return "RuntimeUnavailable";
        case ProbeStatus::CannotOpen:
            return "CannotOpen";
        case ProbeStatus::NoStreamInfo:
            return "NoStreamInfo";
        case ProbeStatus::NoDecodableStream:
            return "NoDecodableStream";
    }
    return "Unknown";
}

std::optional<StereoTag> stereoFromMetadata(const std::string& value) {
    if (value == "left_eye") {
        return StereoTag{3, 1};
    }
    if (value == "right_eye") {
        return StereoTag{3, 2};
    }
    if (value == "side_by_side" || value == "left_right") {
        return StereoTag{1, 0};
    }
    if (value == "top_bottom" || value == "bottom_top") {
        return StereoTag{2, 0};
    }
    return std::nullopt;
}

StereoPair classifyStereoPair(const std::vector<StreamInfo>& streams) {
    const std::vector<const StreamInfo*> video = decodableStreams(streams, AVMEDIA_TYPE_VIDEO);
    StereoPair pair;
    if (video.size() != 2 || !video[0]->stereoPresent || !video[1]->stereoPresent) {
        return pair;
    }
    const StreamInfo& a = *video[0];
    const StreamInfo& b = *video[1];
    if (isLeft(a) && isRight(b)) {
        pair = {true, a.index, b.index};
    } else if (isRight(a) && isLeft(b)) {
        pair = {true, b.index, a.index};
    } else if (a.stereoType == 3 && b.stereoType == 3) {
        pair = {true, a.index, b.index};
    }
    return pair;
}

std::pair<int32_t, int32_t> doviProfileLevel(const uint8_t* data, std::size_t size) {
    if (!data || size < 48) {
        return {-1, -1};
    }
    uint64_t offset = 0;
    std::memcpy(&offset, data, sizeof offset);
    if (offset == 0 || offset > size || size - offset < 20) {
        return {-1, -1};
    }
    return {data[offset + 4], data[offset + 5]};
}

ProbeResult ClipDescription::probe(const std::string& path) {
    const FfmpegRuntime& runtime = FfmpegRuntime::instance();
    ProbeResult result;
    if (!runtime.available()) {
        result.detail = runtime.loadMessage;
        return result;
    }
    const auto& fn = runtime.fn();
    clear();
    path_ = path;
    AVFormatContext* raw = nullptr;
    int code = fn.avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    demuxer_.reset(raw);
    if (code < 0) {
        demuxer_.reset();
        return {ProbeStatus::CannotOpen, code, "avformat_open_input: " + avErrorText(code)};
    }
    code = fn.avformat_find_stream_info(raw, nullptr);
    if (code < 0) {
        demuxer_.reset();
        return {ProbeStatus::NoStreamInfo, code, "avformat_find_stream_info: " + avErrorText(code)};
    }
    if (raw->iformat) {
        formatName_ = text(raw->iformat->name);
        formatLongName_ = raw->iformat->long_name ? raw->iformat->long_name : formatName_;
    }
    duration_ = raw->duration == AV_NOPTS_VALUE || raw->duration < 0 ? 0 : raw->duration;
    durationUnknown_ = duration_ == 0;
    bool decodable = false;
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        const AVStream* stream = raw->streams[i];
        if (!stream || !stream->codecpar) {
            continue;
        }
        streams_.push_back(describeStream(runtime, *stream));
        const StreamInfo& info = streams_.back();
        decodable |= info.hasDecoder &&
                     (info.mediaType == AVMEDIA_TYPE_VIDEO || info.mediaType == AVMEDIA_TYPE_AUDIO);
    }
    if (!decodable) {
        // Nothing of this file may outlive the failed probe but its path.
        clear();
        return {ProbeStatus::NoDecodableStream, 0,
                "no video or audio stream with an available decoder"};
    }
    stereo_ = classifyStereoPair(streams_);
    if (stereo_.found) {
        Logger::log(LogLevel::Info,
                    "detected stereoscopic pair: left=stream %d, right=stream %d in %s",
                    stereo_.left, stereo_.right, path.c_str());
    }
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = fn.av_dict_get(raw->metadata, "", entry, AV_DICT_IGNORE_SUFFIX))) {
        metadata_.emplace_back(text(entry->key), text(entry->value));
    }
    return {ProbeStatus::Ok, 0, {}};
}

void ClipDescription::clear() {
    demuxer_.reset();
    formatName_.clear();
    formatLongName_.clear();
    streams_.clear();
    duration_ = 0;
    durationUnknown_ = false;
    metadata_.clear();
    stereo_ = {};
}

void ClipDescription::close() {
    clear();
    path_.clear();
}

bool ClipDescription::isSeekable() const {
    return demuxer_ && demuxer_->pb && (demuxer_->pb->seekable & AVIO_SEEKABLE_NORMAL) != 0;
}

const StreamInfo* ClipDescription::findStream(int32_t index) const {
    for (const StreamInfo& s : streams_) {
        if (s.index == index) {
            return &s;
        }
    }
    return nullptr;
}

std::vector<const StreamInfo*> ClipDescription::videoStreams() const {
    std::vector<const StreamInfo*> video = decodableStreams(streams_, AVMEDIA_TYPE_VIDEO);
    // The host shows view 0 as the left eye.
    if (stereo_.found && video.size() == 2 && video[0]->index == stereo_.right) {
        std::swap(video[0], video[1]);
    }
    return video;
}

std::vector<const StreamInfo*> ClipDescription::audioStreams() const {
    return decodableStreams(streams_, AVMEDIA_TYPE_AUDIO);
}

int32_t ClipDescription::eyeForView(int32_t view) const {
    if (!stereo_.found) {
        return 0;
    }
    return view == 0 ? 1 : view == 1 ? 2 : 0;
}

ContainerHeader probeContainer(const std::string& path) {
    ContainerHeader header;
    const FfmpegRuntime& runtime = FfmpegRuntime::instance();
    if (!runtime.available()) {
        return header;
    }
    const auto& fn = runtime.fn();
    AVFormatContext* raw = nullptr;
    const int code = fn.avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    ffmpeg::FormatContextPtr context(raw);
    if (code < 0) {
        Logger::log(LogLevel::Debug, "probeContainer: cannot open %s: %s", path.c_str(),
                    avErrorText(code).c_str());
        return header;
    }
    header.opened = true;
    header.formatName = raw->iformat ? text(raw->iformat->name) : std::string();
    header.streamCount = static_cast<int32_t>(raw->nb_streams);
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        const AVStream* stream = raw->streams[i];
        if (stream && stream->codecpar && stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            header.videoCodecIds.push_back(stream->codecpar->codec_id);
            header.everyVideoCodecKnown &= stream->codecpar->codec_id != AV_CODEC_ID_NONE;
        }
    }
    return header;
}

}  // namespace kestrova
