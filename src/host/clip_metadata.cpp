// What a clip carries beside its pictures and sound: XMP metadata, the eye
// of each stream of a stereoscopic pair and an embedded LUT.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "ffmpeg/ffmpeg_runtime.h"
#include "host/clip_instance.h"
#include "host/clip_queries.h"
#include "host/host_suites.h"
#include "support/logger.h"

namespace kestrova::host {
namespace {

// Where muxers put an XMP packet, most specific first.
constexpr std::array<const char*, 4> kXmpKeys = {"xmp", "XMP_", "xmp_packet",
                                                 "com.apple.quicktime.xmp"};

std::string firstXmpValue(const AVDictionary* metadata) {
    const auto& fn = ffmpeg::FfmpegRuntime::instance().fn();
    for (const char* key : kXmpKeys) {
        const AVDictionaryEntry* entry = fn.av_dict_get(metadata, key, nullptr, AV_DICT_MATCH_CASE);
        if (entry && entry->value && entry->value[0] != '\0') {
            return entry->value;
        }
    }
    return {};
}

// The container's XMP, else the first stream's in container order; empty
// when the container has no metadata at all.
std::string findXmp(const AVFormatContext& format) {
    if (!format.metadata) {
        return {};
    }
    std::string xmp = firstXmpValue(format.metadata);
    for (unsigned i = 0; xmp.empty() && i < format.nb_streams; ++i) {
        if (format.streams[i]) {
            xmp = firstXmpValue(format.streams[i]->metadata);
        }
    }
    return xmp;
}

int32_t clampedSize(std::size_t size) {
    return static_cast<int32_t>(std::min<std::size_t>(size, INT32_MAX));
}

}  // namespace

Result imGetMetaDataHandler(void* /*fileAccess*/, void* record) {
    using namespace metadatarec;
    LockedClip clip(record, kPrivateData);
    if (!clip) {
        return imUnsupported;
    }
    if (!clip->reopen()) {
        Logger::log(LogLevel::Error, "imGetMetaData: cannot reopen source for %s",
                    clip->path.c_str());
        return imDeclined;
    }
    const AVFormatContext* format = clip->mainDemuxer.demuxer();
    if (!format) {
        return imUnsupported;
    }
    const auto code = readField<uint32_t>(record, kCode);
    std::string xmp;
    if (code == kXmpMetadataCode) {
        xmp = findXmp(*format);
    } else {
        Logger::log(LogLevel::Debug, "imGetMetaData: unknown fourCC 0x%08X", code);
    }
    if (xmp.empty()) {
        return imNoMetadata;
    }
    auto* buffer = readField<uint8_t*>(record, kBuffer);
    if (!buffer) {
        writeField<int32_t>(record, kBufferSize, clampedSize(xmp.size()));
        return imNoErr;
    }
    const int32_t capacity = std::max(readField<int32_t>(record, kBufferSize), 0);
    const std::size_t copied = std::min(static_cast<std::size_t>(capacity), xmp.size());
    std::memcpy(buffer, xmp.data(), copied);
    writeField<int32_t>(record, kBufferSize, clampedSize(copied));
    return imNoErr;
}

Result imQueryStreamLabelHandler(void* record) {
    using namespace streamlabelrec;
    LockedClip clip(record, kPrivateData);
    if (!clip || !clip->reopen()) {
        return imUnsupported;
    }
    const ClipDescription& description = clip->mainDemuxer;
    const int32_t index = readField<int32_t>(record, kStreamIndex);
    if (!description.stereoPair().found || index < 0 ||
        static_cast<std::size_t>(index) >= description.videoStreams().size()) {
        return imUnsupported;
    }
    const int32_t eye = description.eyeForView(index);
    if (eye != 1 && eye != 2) {
        return imUnsupported;
    }
    HostString label{};
    if (!createHostString(eye == 1 ? "ADBE.Stereoscopic.Left" : "ADBE.Stereoscopic.Right", label)) {
        Logger::log(LogLevel::Warning, "imQueryStreamLabel: the host created no label for %s",
                    clip->path.c_str());
        return imUnsupported;
    }
    writeField<HostString>(record, kLabel, label);
    return imNoErr;
}

Result imGetEmbeddedLutHandler(void* record) {
    using namespace lutrec;
    LockedClip clip(record, kPrivateData);
    if (!clip) {
        return imUnsupported;
    }
    clip->probeEmbeddedLut();
    const std::vector<uint8_t>& lut = clip->lutBytes;
    const char* path = clip->path.c_str();
    if (lut.empty()) {
        Logger::log(LogLevel::Debug, "imGetEmbeddedLUT: no LUT data for %s", path);
        return imUnsupported;
    }
    auto* buffer = readField<uint8_t*>(record, kBuffer);
    const int32_t length = clampedSize(lut.size());
    if (!buffer) {
        writeField<int32_t>(record, kBufferSize, length);
        Logger::log(LogLevel::Debug, "imGetEmbeddedLUT: reporting size %d for %s", length, path);
        return imNoErr;
    }
    // A buffer too small for the whole table gets none of it.
    if (readField<int32_t>(record, kBufferSize) >= length) {
        std::memcpy(buffer, lut.data(), static_cast<std::size_t>(length));
        Logger::log(LogLevel::Debug, "imGetEmbeddedLUT: copied %d bytes for %s", length, path);
    }
    return imNoErr;
}

}  // namespace kestrova::host
