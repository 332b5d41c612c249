// Pixel format negotiation: which formats a clip is offered in, which one
// the host gets, and the colour space that goes with it.
#include <cstring>

#include "host/clip_instance.h"
#include "host/clip_selectors.h"
#include "pixels/host_formats.h"
#include "pixels/plane_layout.h"
#include "support/logger.h"

namespace kestrova::host {
namespace {

const char* pixelFormatName(int32_t format) {
    const auto& runtime = ffmpeg::FfmpegRuntime::instance();
    const char* name = format >= 0 && runtime.available()
                           ? runtime.fn().av_get_pix_fmt_name(static_cast<AVPixelFormat>(format))
                           : nullptr;
    return name ? name : "unknown";
}

SourcePixelInfo sourcePixelsOf(const ClipInstance& clip, const StreamInfo& stream) {
    const StreamSummary& s = clip.summary;
    SourcePixelInfo info;
    describeSourceFormat(info, stream.pixelFormat);
    info.chromaSiting = stream.chromaLocation;
    info.interlaced = isInterlaced(s.fieldOrder);
    info.fullRange = s.fullRange;
    info.primaries = s.primaries;
    info.transfer = s.transfer;
    info.matrix = s.matrix;
    info.hdr = s.hdr;
    if (clip.hwReadbackFormat >= 0 && clip.hwReadbackFormat != stream.pixelFormat) {
        Logger::log(LogLevel::Info,
                    "imGetIndPixelFormat: using HW readback format %s instead of stream format %s "
                    "for candidate list",
                    pixelFormatName(clip.hwReadbackFormat), pixelFormatName(stream.pixelFormat));
        describeSourceFormat(info, clip.hwReadbackFormat);
    }
    return info;
}

// Steps 1 to 4 of building the list; answers a result code on failure.
Result buildPlans(ClipInstance& clip) {
    clip.plans.clear();
    if ((!clip.summaryBuilt || !clip.mainDemuxer.isOpen()) && !clip.reopen()) {
        Logger::log(LogLevel::Warning, "imGetIndPixelFormat: cannot reopen source for %s",
                    clip.path.c_str());
        return imUnsupported;
    }
    if (!clip.describeVideo()) {
        return imUnsupported;
    }
    const StreamInfo* stream = clip.mainDemuxer.findStream(clip.mappedVideo);
    if (!stream || stream->mediaType != AVMEDIA_TYPE_VIDEO) {
        Logger::log(LogLevel::Warning, "imGetIndPixelFormat: no video stream at index %d for %s",
                    clip.mappedVideo, clip.path.c_str());
        return imUnsupported;
    }
    buildCandidatePlans(clip, *stream);
    Logger::log(LogLevel::Info, "imGetIndPixelFormat: %zu candidates for %s (stream %d)",
                clip.plans.size(), clip.path.c_str(), clip.mappedVideo);
    return imNoErr;
}

}  // namespace

void buildCandidatePlans(ClipInstance& clip, const StreamInfo& stream) {
    // The readback format of a hardware decoder decides what frames look like.
    (void)clip.openVideoDecoder();
    const SourcePixelInfo source = sourcePixelsOf(clip, stream);
    clip.plans = buildCandidateList(source);
    completeCandidateList(clip.plans, source);
    clip.plansBuilt = true;
}

Result imGetIndPixelFormatHandler(int32_t index, void* record) {
    LockedClip clip(record, pixelformatrec::kPrivateData);
    if (!clip) {
        return imUnsupported;
    }
    if (!clip->plansBuilt) {
        if (const Result built = buildPlans(*clip); built != imNoErr) {
            return built;
        }
    }
    if (index < 0 || static_cast<std::size_t>(index) >= clip->plans.size()) {
        return imBadFormatIndex;
    }
    const TargetPlan& plan = clip->plans[static_cast<std::size_t>(index)];
    writeField<uint32_t>(record, pixelformatrec::kFormat, plan.format);
    Logger::log(LogLevel::Info, "imGetIndPixelFormat[%d] = %s (%s)", index,
                printableFourCC(plan.format).c_str(), plan.reason.c_str());
    // The host learns only the FourCC; the conversion behind it is for the log.
    Logger::log(LogLevel::Info, "imGetIndPixelFormat[%d]: conversion %s, score %d", index,
                enumName(plan.kind), plan.score);
    return imNoErr;
}

Result imSelectClipFrameDescriptorHandler(const void* stdParms, void* record) {
    using namespace framedescrec;
    if (!record) {
        return imUnsupported;
    }
    const int32_t version =
        stdParms ? readField<int32_t>(stdParms, stdparms::kInterfaceVersion) : -1;
    if (version < 15) {
        Logger::log(LogLevel::Warning,
                    "imSelectClipFrameDescriptor: interface version %d < 15, declining", version);
        return imUnsupported;
    }
    if (version < 22) {
        Logger::log(LogLevel::Warning,
                    "imSelectClipFrameDescriptor: interface version %d < 22, no privateData",
                    version);
        return imUnsupported;
    }
    LockedClip clip(record, kPrivateData);
    if (!clip) {
        return imUnsupported;
    }
    if (!clip->plansBuilt || clip->plans.empty()) {
        Logger::log(LogLevel::Warning, "imSelectClipFrameDescriptor: no candidate list for %s",
                    clip->path.c_str());
        return imUnsupported;
    }
    const uint32_t desired = readField<uint32_t>(record, kDesired);
    const TargetPlan* chosen = chooseNegotiatedPlan(clip->plans, desired, clip->summary.hdr);
    auto* bytes = static_cast<unsigned char*>(record);
    std::memmove(bytes + kOutput, bytes + kDesired, kDescriptorBytes);
    writeField<uint32_t>(record, kOutput, chosen->format);
    if (readField<int32_t>(record, kOutWidth) == 0) {
        writeField<int32_t>(record, kOutWidth, clip->summary.width);
    }
    if (readField<int32_t>(record, kOutHeight) == 0) {
        writeField<int32_t>(record, kOutHeight, clip->summary.height);
    }
    Logger::log(LogLevel::Debug,
                "imSelectClipFrameDescriptor: desired %s -> delivering %s (%s, HDR=%d)",
                printableFourCC(desired).c_str(), printableFourCC(chosen->format).c_str(),
                chosen->reason.c_str(), clip->summary.hdr ? 1 : 0);
    clip->selectedPlan = *chosen;
    clip->planSelected = true;
    return imNoErr;
}

Result imGetIndColorSpaceHandler(int32_t index, void* record) {
    using namespace colorspacerec;
    LockedClip clip(record, kPrivateData);
    if (!clip) {
        return imUnsupported;
    }
    if (!clip->summaryBuilt) {
        Logger::log(LogLevel::Warning, "imGetIndColorSpace: no description for %s",
                    clip->path.c_str());
        return imUnsupported;
    }
    clip->probeIccProfile();
    const int32_t entries = clip->iccProfile.empty() ? 1 : 2;
    if (index < 0 || index >= entries) {
        return imBadFormatIndex;
    }
    if (index == 0) {
        const StreamSummary& s = clip->summary;
        const uint32_t format = clip->planSelected ? clip->selectedPlan.format
                                : clip->plansBuilt && !clip->plans.empty()
                                    ? clip->plans.front().format
                                    : kBadFormat;
        const int32_t depth = s.bitDepth > 0 ? s.bitDepth : 8;
        const int32_t rgb = isRgbHostFormat(format) ? 1 : 0;
        writeField<int32_t>(record, kKind, kKindDescribed);
        writeField<int32_t>(record, kPrimaries, s.primaries);
        writeField<int32_t>(record, kTransfer, s.transfer);
        writeField<int32_t>(record, kMatrix, s.matrix);
        writeField<int32_t>(record, kBitDepth, depth);
        writeField<int32_t>(record, kFullRange, s.fullRange ? 1 : 0);
        writeField<int32_t>(record, kRgb, rgb);
        writeField<int32_t>(record, kSceneReferred, s.sceneReferred ? 1 : 0);
        Logger::log(LogLevel::Debug,
                    "imGetIndColorSpace[0] SEI: pri=%d trc=%d mat=%d depth=%d full=%d rgb=%d "
                    "scene=%d (%s)",
                    s.primaries, s.transfer, s.matrix, depth, s.fullRange ? 1 : 0, rgb,
                    s.sceneReferred ? 1 : 0, clip->path.c_str());
        return imNoErr;
    }
    const auto iccSize = static_cast<int32_t>(clip->iccProfile.size());
    writeField<int32_t>(record, kKind, kKindIcc);
    auto* buffer = readField<uint8_t*>(record, kIccBuffer);
    if (!buffer) {
        writeField<int32_t>(record, kIccSize, iccSize);
        Logger::log(LogLevel::Debug, "imGetIndColorSpace[1] ICC: reporting size %d for %s", iccSize,
                    clip->path.c_str());
    } else if (readField<int32_t>(record, kIccSize) >= iccSize) {
        std::memcpy(buffer, clip->iccProfile.data(), clip->iccProfile.size());
        Logger::log(LogLevel::Debug, "imGetIndColorSpace[1] ICC: copied %d bytes for %s", iccSize,
                    clip->path.c_str());
    }
    return imNoErr;
}

}  // namespace kestrova::host
