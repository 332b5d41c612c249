// Finds the folder of FFmpeg libraries beside the module and checks the set
// before anything is loaded from it.
#pragma once

#include <string>
#include <vector>

#include "ffmpeg/ffmpeg_runtime.h"

namespace kestrova::ffmpeg {

struct DiscoveryResult {
    DiscoveryStatus status = DiscoveryStatus::NoCandidateDirectory;
    std::string message;
    // The accepted folder; empty unless the status is Ok.
    std::string directory;
    std::vector<std::string> examinedDirectories;
    std::vector<CandidateSet> candidates;
};

// The "ffmpeg" folder below `moduleDirectory`, normalised lexically; empty
// when `moduleDirectory` is empty.
std::string bundledFfmpegDirectory(const std::string& moduleDirectory);
// The "ffmpeg" folder beside the module file that contains this code; empty
// when the module's path cannot be determined.
std::string moduleFfmpegDirectory();

// Looks into `ffmpegDirectory` only: never the system search path.
DiscoveryResult discoverFfmpeg(const std::string& ffmpegDirectory);

}  // namespace kestrova::ffmpeg
