#include "ffmpeg/ffmpeg_discovery.h"

#include <filesystem>

#include "ffmpeg/image_check.h"
#include "platform/platform.h"

namespace kestrova::ffmpeg {
namespace {

std::string lexicallyNormal(const std::filesystem::path& path) {
    return platform::utf8FromPath(path.lexically_normal());
}

}  // namespace

std::string libraryFileName(const FfmpegLibrarySpec& library) {
    return platform::sharedLibraryFileName(library.baseName, library.expectedMajor);
}

std::string bundledFfmpegDirectory(const std::string& moduleDirectory) {
    if (moduleDirectory.empty()) {
        return {};
    }
    return lexicallyNormal(platform::pathFromUtf8(moduleDirectory) / "ffmpeg");
}

std::string moduleFfmpegDirectory() {
    const std::string module = platform::modulePath();
    if (module.empty()) {
        return {};
    }
    return bundledFfmpegDirectory(
        platform::utf8FromPath(platform::pathFromUtf8(module).parent_path()));
}

DiscoveryResult discoverFfmpeg(const std::string& ffmpegDirectory) {
    DiscoveryResult result;
    if (ffmpegDirectory.empty()) {
        result.message = "the bundled FFmpeg directory could not be resolved from the module path";
        return result;
    }
    const auto folder = platform::fileStatus(ffmpegDirectory);
    if (!folder || !folder->isDirectory) {
        result.message = "the bundled FFmpeg directory does not exist: " + ffmpegDirectory;
        return result;
    }
    result.examinedDirectories.push_back(ffmpegDirectory);

    CandidateSet candidate;
    candidate.directory = ffmpegDirectory;
    int missing = 0;
    for (const FfmpegLibrarySpec& library : kLibrarySpecs) {
        const std::string fileName = libraryFileName(library);
        const std::string path = platform::joinPath(ffmpegDirectory, fileName);
        if (platform::fileStatus(path)) {
            candidate.files.push_back({library.baseName, fileName, path});
        } else {
            ++missing;
        }
    }
    if (missing > 0) {
        result.candidates.push_back(std::move(candidate));
        result.status = DiscoveryStatus::IncompleteSet;
        result.message =
            "the bundled FFmpeg set is incomplete; all five libraries must be present in " +
            ffmpegDirectory;
        return result;
    }
    candidate.setComplete = true;

    for (const LibraryFile& file : candidate.files) {
        if (!isX64Image(file.path)) {
            result.candidates.push_back(std::move(candidate));
            result.status = DiscoveryStatus::ArchitectureMismatch;
            result.message =
                file.fileName + " in " + ffmpegDirectory + " is not built for this architecture";
            return result;
        }
    }
    candidate.architectureOk = true;
    result.directory =
        lexicallyNormal(platform::pathFromUtf8(candidate.files.front().path).parent_path());
    result.candidates.push_back(std::move(candidate));
    result.status = DiscoveryStatus::Ok;
    return result;
}

}  // namespace kestrova::ffmpeg
