#include "fileops/file_size.h"
#include "fileops/fileops_selectors.h"
#include "fileops/size_estimate.h"
#include "host/clip_instance.h"
#include "support/logger.h"

namespace kestrova::host {

Result imCalcSize8Handler(void* record, void* fileAccess) {
    LockedClip clip(record, calcsizerec::kPrivateData);
    if (!record || !fileAccess || !clip) {
        return imUnsupported;
    }
    const int32_t duration = readField<int32_t>(record, calcsizerec::kDuration);
    if (duration == 0) {
        std::string reason;
        const auto size = fileops::currentFileSize(clip->path, &reason);
        if (!size) {
            Logger::log(LogLevel::Warning, "imCalcSize8: cannot stat file %s: %s",
                        clip->path.c_str(), reason.c_str());
            return imFailure;
        }
        writeField<int64_t>(record, calcsizerec::kResultBytes, static_cast<int64_t>(*size));
        Logger::log(LogLevel::Debug, "imCalcSize8: current size for %s = %lld bytes",
                    clip->path.c_str(), static_cast<long long>(*size));
        return imNoErr;
    }
    if (!clip->reopen() || !clip->mainDemuxer.demuxer()) {
        return imFailure;
    }
    fileops::SizeInputs inputs;
    inputs.containerBitRate = clip->mainDemuxer.demuxer()->bit_rate;
    for (const StreamInfo& stream : clip->mainDemuxer.streams()) {
        inputs.streamBitRates.push_back(stream.bitRate);
    }
    inputs.fileSize = fileops::currentFileSize(clip->path);
    inputs.durationMicros = clip->mainDemuxer.duration();
    inputs.duration = duration;
    inputs.scale = readField<int32_t>(record, calcsizerec::kScale);
    inputs.sampleSize = readField<int32_t>(record, calcsizerec::kSampleSize);
    const fileops::SizeEstimate estimate = fileops::estimateTrimmedSize(inputs);
    writeField<int64_t>(record, calcsizerec::kResultBytes, estimate.bytes);
    if (estimate.bitRate >= 1) {
        Logger::log(LogLevel::Debug,
                    "imCalcSize8: trimmed estimate for %s: %lld bytes (bitrate=%lld, dur=%.3fs)",
                    clip->path.c_str(), static_cast<long long>(estimate.bytes),
                    static_cast<long long>(estimate.bitRate), estimate.seconds);
    }
    return imNoErr;
}

}  // namespace kestrova::host
