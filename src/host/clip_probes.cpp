// The per-clip probes that inspect content on demand: an embedded LUT, the
// HDR metadata and the ICC profile of the first frame.
#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/mastering_display_metadata.h>
}

#include "host/clip_instance.h"
#include "support/ascii_text.h"
#include "support/logger.h"

namespace kestrova::host {
namespace {

bool isLutExtension(const std::string& fileName) {
    const std::string extension = lowerExtension(fileName);
    return extension == "cube" || extension == "3dl" || extension == "mga" || extension == "spi3d";
}

double ratio(AVRational r) {
    return r.den == 0 ? 0.0 : static_cast<double>(r.num) / r.den;
}

const AVFrameSideData* sideData(const AVFrame* frame, AVFrameSideDataType type) {
    return ffmpeg::FfmpegRuntime::instance().fn().av_frame_get_side_data(frame, type);
}

void readMastering(const AVFrameSideData& side, HdrMetadata& hdr) {
    if (side.size < sizeof(AVMasteringDisplayMetadata)) {
        return;
    }
    AVMasteringDisplayMetadata mastering;
    std::memcpy(&mastering, side.data, sizeof mastering);
    hdr.masteringPresent = true;
    hdr.hasPrimaries = mastering.has_primaries != 0;
    hdr.hasLuminance = mastering.has_luminance != 0;
    if (hdr.hasPrimaries) {
        for (int c = 0; c < 3; ++c) {
            hdr.primaries[c * 2] = ratio(mastering.display_primaries[c][0]);
            hdr.primaries[c * 2 + 1] = ratio(mastering.display_primaries[c][1]);
        }
        hdr.primaries[6] = ratio(mastering.white_point[0]);
        hdr.primaries[7] = ratio(mastering.white_point[1]);
    }
    if (hdr.hasLuminance) {
        hdr.minLuminance = ratio(mastering.min_luminance);
        hdr.maxLuminance = ratio(mastering.max_luminance);
    }
}

}  // namespace

void ClipInstance::probeEmbeddedLut() {
    if (lutProbed) {
        return;
    }
    lutProbed = true;
    if (!reopen()) {
        return;
    }
    const auto& fn = ffmpeg::FfmpegRuntime::instance().fn();
    AVFormatContext* format = mainDemuxer.demuxer();
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        if (!stream || !stream->codecpar ||
            stream->codecpar->codec_type != AVMEDIA_TYPE_ATTACHMENT) {
            continue;
        }
        const AVDictionaryEntry* name = fn.av_dict_get(stream->metadata, "filename", nullptr, 0);
        const std::string fileName = name && name->value ? name->value : "";
        const AVCodecParameters& p = *stream->codecpar;
        if (isLutExtension(fileName) && p.extradata && p.extradata_size > 0) {
            lutBytes.assign(p.extradata, p.extradata + p.extradata_size);
            Logger::log(LogLevel::Info,
                        "probeEmbeddedLut: found LUT attachment '%s' (%zu bytes) in %s",
                        fileName.c_str(), lutBytes.size(), path.c_str());
            return;
        }
    }
    const AVDictionaryEntry* entry =
        fn.av_dict_get(format->metadata, "embedded_lut", nullptr, AV_DICT_IGNORE_SUFFIX);
    if (entry && entry->value && entry->value[0] != '\0') {
        lutBytes.assign(entry->value, entry->value + std::strlen(entry->value));
        Logger::log(LogLevel::Info,
                    "probeEmbeddedLut: found LUT in metadata key '%s' (%zu bytes) in %s",
                    entry->key, lutBytes.size(), path.c_str());
        return;
    }
    Logger::log(LogLevel::Debug, "probeEmbeddedLut: no embedded LUT found in %s", path.c_str());
}

const AVFrame* ClipInstance::firstFrame(const char* probeName, bool& concluded) {
    concluded = true;
    if (!reopen() || mappedVideo < 0) {
        return nullptr;
    }
    if (!openVideoDecoder()) {
        Logger::log(LogLevel::Debug, "%s: cannot open decoder for %s", probeName, path.c_str());
        return nullptr;
    }
    // Until a real picture was read, a later request may still get one.
    concluded = false;
    const FrameResult result = videoDecoder.frameAt(0);
    if (result.status != DecodeStatus::Ok) {
        Logger::log(LogLevel::Debug, "%s: decode failed for %s: %s", probeName, path.c_str(),
                    result.detail.empty() ? statusName(result.status) : result.detail.c_str());
        return nullptr;
    }
    // A black or repeated picture carries none of the stream's side data.
    if (result.black || result.repeatedLastGood) {
        Logger::log(LogLevel::Debug, "%s: no decoded picture for %s yet (%s)", probeName,
                    path.c_str(), result.black ? "black stand-in" : "last good stand-in");
        return nullptr;
    }
    concluded = true;
    return videoDecoder.currentFrame();
}

void ClipInstance::probeHdrMetadata() {
    if (hdrProbed) {
        return;
    }
    const AVFrame* frame = firstFrame("probeHdrMetadata", hdrProbed);
    if (!frame) {
        return;
    }
    HdrMetadata hdr;
    if (const AVFrameSideData* side = sideData(frame, AV_FRAME_DATA_MASTERING_DISPLAY_METADATA)) {
        readMastering(*side, hdr);
    }
    if (const AVFrameSideData* side = sideData(frame, AV_FRAME_DATA_CONTENT_LIGHT_LEVEL);
        side && side->size >= sizeof(AVContentLightMetadata)) {
        AVContentLightMetadata light;
        std::memcpy(&light, side->data, sizeof light);
        hdr.contentLightPresent = true;
        hdr.maxContentLight = light.MaxCLL;
        hdr.maxFrameAverageLight = light.MaxFALL;
    }
    if (const AVFrameSideData* side = sideData(frame, AV_FRAME_DATA_DYNAMIC_HDR_PLUS);
        side && side->data && side->size > 0) {
        hdr.hdr10PlusPresent = true;
        hdr.hdr10PlusSize = side->size;
    }
    if (const AVFrameSideData* side = sideData(frame, AV_FRAME_DATA_DOVI_METADATA);
        side && side->data && side->size > 0) {
        hdr.doviPresent = true;
        hdr.doviSize = side->size;
        std::tie(hdr.doviProfile, hdr.doviLevel) = doviProfileLevel(side->data, side->size);
    }
    hdrMetadata = hdr;
    if (hdr.masteringPresent || hdr.contentLightPresent || hdr.hdr10PlusPresent ||
        hdr.doviPresent) {
        Logger::log(LogLevel::Info,
                    "probeHdrMetadata: found HDR metadata in %s (mastering=%d cll=%d hdr10+=%d "
                    "dovi=%d)",
                    path.c_str(), hdr.masteringPresent, hdr.contentLightPresent,
                    hdr.hdr10PlusPresent, hdr.doviPresent);
    }
}

void ClipInstance::probeIccProfile() {
    if (iccProbed) {
        return;
    }
    const AVFrame* frame = firstFrame("probeIccProfile", iccProbed);
    if (!frame) {
        return;
    }
    if (const AVFrameSideData* side = sideData(frame, AV_FRAME_DATA_ICC_PROFILE);
        side && side->data && side->size > 0) {
        iccProfile.assign(side->data, side->data + side->size);
        Logger::log(LogLevel::Info, "probeIccProfile: found ICC profile (%zu bytes) in %s",
                    iccProfile.size(), path.c_str());
    }
}

}  // namespace kestrova::host
