#include "opened_clip.h"

#include <cstdio>

namespace kestrova::cli {

std::unique_ptr<OpenedClip> OpenedClip::start(const GlobalOptions& options, const std::string& file,
                                              std::unique_ptr<ImporterSession>& session,
                                              int& exitCode, Need need) {
    session = ImporterSession::start(options, exitCode);
    if (!session) {
        return nullptr;
    }
    const int32_t stream = options.stream.value_or(0);
    std::unique_ptr<OpenedClip> clip(new OpenedClip(session->host()));
    clip->opened_ = session->openClip(file, stream);
    if (clip->opened_.result != host::imNoErr) {
        session->reportDeclined(file, clip->opened_.result);
        exitCode = kExitDeclined;
        return nullptr;
    }
    clip->info_ = hostsim::getInfo(clip->host_, clip->opened_.privateData, stream);
    if (need == Need::Audio &&
        (!clip->info_.hasAudio || clip->info_.channels < 1 || clip->info_.sampleRate <= 0)) {
        std::fprintf(stderr, "kestrova-host: host stream %d of %s has no audio (imGetInfo8 %d)\n",
                     stream, file.c_str(), clip->info_.result);
        exitCode = kExitImporterFailed;
        return nullptr;
    }
    exitCode = kExitOk;
    return clip;
}

OpenedClip::~OpenedClip() {
    hostsim::closeFile(host_, opened_.privateData);
}

}  // namespace kestrova::cli
