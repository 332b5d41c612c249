#include "captions/caption_selectors.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "captions/caption_scanner.h"
#include "host/clip_instance.h"
#include "support/logger.h"

namespace kestrova::host {
namespace {

// What a scan needs of the clip, copied while the clip is entered: the scan
// itself never holds the clip's lock.
struct ScanTarget {
    std::string path;
    int32_t videoStream = -1;
    std::size_t subtitleStreams = 0;
    uint32_t streamCount = 0;
};

bool copyScanTarget(void* record, ScanTarget& target) {
    const LockedClip clip(record, captionscanrec::kPrivateData);
    if (!clip) {
        return false;
    }
    // A quieted clip has no demuxer: its stream count, part of the cache's
    // key, would read 0 and make every other scan miss the cache.
    (void)clip->reopen();
    target.path = clip->path;
    target.videoStream = clip->mappedVideo;
    const auto& streams = clip->mainDemuxer.streams();
    target.subtitleStreams = static_cast<std::size_t>(
        std::count_if(streams.begin(), streams.end(),
                      [](const StreamInfo& s) { return s.mediaType == AVMEDIA_TYPE_SUBTITLE; }));
    target.streamCount = clip->mainDemuxer.isOpen() ? clip->mainDemuxer.demuxer()->nb_streams : 0;
    return true;
}

void deliver(const Caption& caption, void* record) {
    namespace rec = nextcaptionrec;
    auto* bytes = static_cast<unsigned char*>(record);
    if (caption.format == kCaptionFormatText) {
        const std::size_t count = std::min(caption.text.size(), rec::kTextBytes - 1);
        std::memcpy(bytes + rec::kText, caption.text.data(), count);
        bytes[rec::kText + count] = 0;
        writeField<uint64_t>(record, rec::kDataSize, count);
        return;
    }
    auto* buffer = readField<uint8_t*>(record, rec::kData);
    if (!buffer || caption.data.empty()) {
        // A size query: the host asks again with a buffer that fits.
        writeField<uint64_t>(record, rec::kDataSize, caption.data.size());
        return;
    }
    const std::size_t count = static_cast<std::size_t>(
        std::min<uint64_t>(readField<uint64_t>(record, rec::kDataSize), caption.data.size()));
    std::memcpy(buffer, caption.data.data(), count);
    writeField<uint64_t>(record, rec::kDataSize, count);
}

}  // namespace

Result imInitiateAsyncClosedCaptionScanHandler(void* record) {
    ScanTarget target;
    if (!record) {
        return imNoCaptions;
    }
    // No scan state unless one is handed out, whatever the host left there.
    writeField<void*>(record, captionscanrec::kScanState, nullptr);
    if (!copyScanTarget(record, target)) {
        return imNoCaptions;
    }
    ContentState state = contentStateOf(target.path);
    state.streamCount = target.streamCount;
    std::unique_ptr<CaptionScanner> scanner(new (std::nothrow) CaptionScanner);
    if (!scanner) {
        return imMemErr;
    }
    Logger::log(LogLevel::Info,
                "imInitiateAsyncClosedCaptionScan: scanning %s (video stream %d, %zu subtitle "
                "streams)",
                target.path.c_str(), target.videoStream, target.subtitleStreams);
    const ScopedTimer timer("imInitiateAsyncClosedCaptionScan", LogLevel::Info);
    if (!scanner->scan(target.path, target.videoStream, state)) {
        Logger::log(LogLevel::Debug, "imInitiateAsyncClosedCaptionScan: no captions in %s",
                    target.path.c_str());
        return imNoCaptions;
    }
    Logger::log(
        LogLevel::Debug, "imInitiateAsyncClosedCaptionScan: %zu captions, est duration %lld",
        scanner->captions().size(), static_cast<long long>(scanner->estimatedDurationFrames()));
    writeField<int64_t>(record, captionscanrec::kFrameRateNum, scanner->frameRateNum());
    writeField<int64_t>(record, captionscanrec::kFrameRateDen, scanner->frameRateDen());
    writeField<int64_t>(record, captionscanrec::kDurationFrames,
                        scanner->estimatedDurationFrames());
    writeField<void*>(record, captionscanrec::kScanState, scanner.release());
    return imNoErr;
}

Result imGetNextClosedCaptionHandler(void* record) {
    namespace rec = nextcaptionrec;
    auto* scanner = record ? readField<CaptionScanner*>(record, rec::kScanState) : nullptr;
    if (!scanner) {
        return imNoCaptions;
    }
    float progress = 1.0f;
    const std::optional<Caption> caption = scanner->takeNext(progress);
    if (!caption) {
        return imNoCaptions;
    }
    writeField<float>(record, rec::kProgress, progress);
    writeField<int64_t>(record, rec::kFrameRateNum, scanner->frameRateNum());
    writeField<int64_t>(record, rec::kFrameRateDen, scanner->frameRateDen());
    writeField<int64_t>(record, rec::kTime, caption->time);
    writeField<uint32_t>(record, rec::kFormat, caption->format);
    deliver(*caption, record);
    return imNoErr;
}

Result imCompleteAsyncClosedCaptionScanHandler(void* record) {
    if (!record) {
        return imNoErr;
    }
    namespace rec = completecaptionrec;
    const bool completed = readField<int32_t>(record, rec::kCompleted) != 0;
    auto* scanner = readField<CaptionScanner*>(record, rec::kScanState);
    if (scanner) {
        delete scanner;
        writeField<void*>(record, rec::kScanState, nullptr);
        Logger::log(LogLevel::Debug,
                    "imCompleteAsyncClosedCaptionScan: scan state freed (completed %s)",
                    completed ? "without error" : "with error");
    }
    return imNoErr;
}

}  // namespace kestrova::host
