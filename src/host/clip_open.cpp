// Opening, quieting and closing clips, including the files the plug-in
// declines so that the host's own importer takes them.
#include <algorithm>
#include <limits>
#include <new>
#include <optional>

#include "host/clip_instance.h"
#include "host/clip_registry.h"
#include "host/clip_selectors.h"
#include "host/host_suites.h"
#include "host/open_rules.h"
#include "host/stream_mapping.h"
#include "host/utf16_fields.h"
#include "support/logger.h"

namespace kestrova::host {
namespace {

ClipInstance* createInstance(void* record) {
    void* block = hostAlloc(sizeof(ClipInstance));
    if (!block) {
        return nullptr;
    }
    ClipInstance* instance = nullptr;
    try {
        instance = new (block) ClipInstance();
    } catch (...) {
        hostFree(block);
        throw;
    }
    instance->path = readUtf16Path(readField<const char16_t*>(record, openrec::kPath));
    instance->hostStreamIndex = readField<int32_t>(record, openrec::kStreamIndex);
    instance->hostValue = readField<int32_t>(record, openrec::kHostValue);
    clipregistry::add(instance);
    writeField<void*>(record, openrec::kPrivateData, instance);
    return instance;
}

// An ISO media file whose header shows only codecs the host decodes itself.
bool declinedFromHeader(const std::string& path) {
    if (!isIsoMediaExtension(path)) {
        return false;
    }
    const ContainerHeader header = probeContainer(path);
    if (!header.opened || header.streamCount < 1 || !header.everyVideoCodecKnown ||
        !isNativeContainer(header.formatName) || anyOpenCodec(header.videoCodecIds)) {
        return false;
    }
    Logger::log(LogLevel::Debug,
                "imOpenFile8: declining %s from the container header (%s with standard codecs)",
                path.c_str(), header.formatName.c_str());
    return true;
}

bool nativeWithStandardCodecs(const ClipDescription& description) {
    if (!isNativeContainer(description.formatName())) {
        return false;
    }
    std::vector<int32_t> videoCodecs;
    for (const StreamInfo& stream : description.streams()) {
        if (stream.mediaType == AVMEDIA_TYPE_VIDEO) {
            videoCodecs.push_back(stream.codecId);
        }
    }
    return !anyOpenCodec(videoCodecs);
}

void mapStreams(ClipInstance& instance) {
    const ClipDescription& description = instance.mainDemuxer;
    const StreamMapping mapping = mapHostStream(instance.hostStreamIndex, description);
    if (!mapping.valid) {
        Logger::log(LogLevel::Warning, "imOpenFile8: stream index %d out of range for %s",
                    instance.hostStreamIndex, instance.path.c_str());
        return;
    }
    instance.mappedVideo = mapping.video;
    instance.mappedAudio = mapping.audio;
    instance.splitIndex = mapping.split;
    Logger::log(LogLevel::Info,
                "imOpenFile8: premiere stream %d -> video %d, audio %d (%d video, %d audio in "
                "file) for %s",
                instance.hostStreamIndex, mapping.video, mapping.audio,
                static_cast<int>(description.videoStreams().size()),
                static_cast<int>(description.audioStreams().size()), instance.path.c_str());
}

}  // namespace

Result imOpenFile8Handler(void* fileRefSlot, void* record) {
    if (!record) {
        return imFailure;
    }
    auto* instance = readField<ClipInstance*>(record, openrec::kPrivateData);
    const bool reused = instance != nullptr;
    if (!reused && !(instance = createInstance(record))) {
        return imMemErr;
    }
    // A fresh instance is not yet known to any other thread; taking the lock
    // anyway keeps one path for both cases, and a closed one is never read.
    InstanceLock lock(instance, InstanceLock::Mode::OpenWhileQuieting);
    if (!lock.entered()) {
        return imFailure;
    }
    if (instance->path.empty()) {
        Logger::log(LogLevel::Error, "imOpenFile8: empty path");
        return imDeclined;
    }
    // The probe below replaces the demuxer that a live decoder, the frame
    // cache and the read position all refer to.
    if (reused) {
        instance->releaseHandles();
    }
    const std::string& path = instance->path;
    if (declinedFromHeader(path)) {
        return imDeclined;
    }
    const ProbeResult probe = instance->mainDemuxer.probe(path);
    if (probe.status != ProbeStatus::Ok) {
        Logger::log(LogLevel::Warning, "imOpenFile8 declined %s: %s (%s)", path.c_str(),
                    probe.detail.c_str(), statusName(probe.status));
        return probe.status == ProbeStatus::RuntimeUnavailable ? imFailure : imDeclined;
    }
    if (nativeWithStandardCodecs(instance->mainDemuxer)) {
        Logger::log(LogLevel::Debug,
                    "imOpenFile8: declining %s (native container with standard codecs)",
                    path.c_str());
        instance->mainDemuxer.close();
        return imDeclined;
    }
    instance->quieted = false;
    instance->applyFrameCacheBudget();
    mapStreams(*instance);
    writeField<int64_t>(
        record, openrec::kExtraMemory,
        std::min<uint64_t>(instance->frameCache.budget(), std::numeric_limits<int32_t>::max()));
    if (fileRefSlot) {
        *static_cast<void**>(fileRefSlot) = instance;
    }
    return imNoErr;
}

Result imQuietFileHandler(void* privateData) {
    if (privateData) {
        static_cast<ClipInstance*>(privateData)->quiet();
    }
    return imNoErr;
}

Result imCloseFileHandler(void* privateData) {
    auto* instance = static_cast<ClipInstance*>(privateData);
    // Only the one close that marks the instance closing may free it; a
    // second close, or one naming a freed instance, does nothing.
    if (!instance || clipregistry::beginClose(instance) != clipregistry::CloseStart::Started) {
        return imNoErr;
    }
    if (!instance->prepareForDestroy()) {
        Logger::log(LogLevel::Error,
                    "imCloseFile: leaking instance for %s -- a selector did not release the "
                    "instance lock in time; freeing now would corrupt a live reader",
                    instance->path.c_str());
        return imNoErr;
    }
    logAudioSummary(*instance, "imCloseFile");
    Logger::log(LogLevel::Info, "imCloseFile: destroying instance for %s", instance->path.c_str());
    clipregistry::remove(instance);
    instance->~ClipInstance();
    hostFree(instance);
    return imNoErr;
}

}  // namespace kestrova::host
