#include "clip_frames.h"

#include <cstdio>

#include "frame_records.h"

namespace kestrova::cli {
namespace {

// More pixel formats than the catalogue has; stops a runaway loop.
constexpr int32_t kMaxFormats = 256;

}  // namespace

std::unique_ptr<ClipFrames> ClipFrames::start(const GlobalOptions& options, const std::string& file,
                                              std::unique_ptr<ImporterSession>& session,
                                              int& exitCode) {
    exitCode = kExitOk;
    session = ImporterSession::start(options, exitCode);
    if (!session) {
        return nullptr;
    }
    return open(*session, file, options.stream.value_or(0), options.format, exitCode);
}

std::vector<uint32_t> candidateFormats(const hostsim::Host& host, void* clip) {
    std::vector<uint32_t> formats;
    for (int32_t index = 0; index < kMaxFormats; ++index) {
        const hostsim::PixelFormatAnswer answer = hostsim::getIndPixelFormat(host, clip, index);
        if (answer.result != host::imNoErr) {
            break;
        }
        formats.push_back(answer.format);
    }
    return formats;
}

std::unique_ptr<ClipFrames> ClipFrames::open(ImporterSession& session, const std::string& file,
                                             int32_t stream, std::optional<uint32_t> desired,
                                             int& exitCode) {
    std::unique_ptr<ClipFrames> clip(new ClipFrames(session.host()));
    const hostsim::Host& host = clip->host_;
    clip->opened_ = session.openClip(file, stream);
    if (clip->opened_.result != host::imNoErr) {
        session.reportDeclined(file, clip->opened_.result);
        exitCode = kExitDeclined;
        return nullptr;
    }
    exitCode = kExitImporterFailed;
    clip->info_ = hostsim::getInfo(host, clip->opened_.privateData, stream);
    if (!clip->info_.hasVideo) {
        std::fprintf(stderr, "kestrova-host: host stream %d of %s has no video (imGetInfo8 %d)\n",
                     stream, file.c_str(), clip->info_.result);
        return nullptr;
    }
    if (candidateFormats(host, clip->opened_.privateData).empty()) {
        std::fprintf(stderr, "kestrova-host: imGetIndPixelFormat offers no pixel format for %s\n",
                     file.c_str());
        return nullptr;
    }
    const hostsim::FrameDescriptorAnswer chosen =
        hostsim::selectClipFrameDescriptor(host, clip->opened_.privateData, desired.value_or(0));
    if (chosen.result != host::imNoErr) {
        std::fprintf(stderr, "kestrova-host: imSelectClipFrameDescriptor answered %d for %s\n",
                     chosen.result, file.c_str());
        return nullptr;
    }
    if (desired && chosen.format != *desired) {
        std::fprintf(stderr, "kestrova-host: %s is not offered for %s; the importer chose %s\n",
                     fourCCName(*desired).c_str(), file.c_str(), fourCCName(chosen.format).c_str());
    }
    clip->format_ = chosen.format;
    clip->width_ = chosen.width;
    clip->height_ = chosen.height;
    exitCode = kExitOk;
    return clip;
}

ClipFrames::~ClipFrames() {
    hostsim::closeFile(host_, opened_.privateData);
}

ClipFrames::Frame ClipFrames::request(int64_t frame) {
    const int64_t hitsBefore = host_.ppix().cacheStats().hits;
    const hostsim::SourceVideoAnswer answer =
        hostsim::getSourceVideo(host_, opened_.privateData,
                                hostsim::frameTicks(frame, info_.frameRateNum, info_.frameRateDen),
                                {acceptedFormat()}, hostsim::kFullQuality, opened_.fileRef);
    Frame result{answer.result, answer.ppix, host_.ppix().cacheStats().hits > hitsBefore};
    if (result.result != host::imNoErr && result.ppix) {
        dispose(result.ppix);
        result.ppix = nullptr;
    }
    return result;
}

void ClipFrames::dispose(host::PPixHand ppix) {
    if (ppix) {
        host_.ppix().dispose(ppix);
    }
}

const hostsim::PPixBuffer* ClipFrames::picture(host::PPixHand ppix) const {
    return host_.ppix().find(ppix);
}

}  // namespace kestrova::cli
