// The files that belong to a clip, the fingerprint of a source file and
// where its accelerator lives.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/peak_cache.h"
#include "captions/caption_cache.h"
#include "host/clip_instance.h"
#include "host/clip_queries.h"
#include "host/content_state.h"
#include "host/host_suites.h"
#include "host/utf16_fields.h"
#include "platform/platform.h"
#include "support/logger.h"
#include "video/seek_index.h"

namespace kestrova::host {
namespace {

// The clip's path, then each cache or accelerator file of it that exists.
std::vector<std::string> clipFiles(const ClipInstance& clip) {
    std::vector<std::string> files{clip.path};
    const auto addExisting = [&files](const std::filesystem::path& file) {
        const std::string path = platform::utf8FromPath(file);
        if (!path.empty() && platform::fileStatus(path)) {
            files.push_back(path);
        }
    };
    addExisting(acceleratorPathFor(clip.path));
    if (clip.mainDemuxer.isOpen()) {
        for (const StreamInfo* audio : clip.mainDemuxer.audioStreams()) {
            addExisting(peakCachePathFor(clip.path, audio->index));
        }
    } else if (clip.mappedAudio >= 0) {
        addExisting(peakCachePathFor(clip.path, clip.mappedAudio));
    }
    addExisting(captionCachePathFor(clip.path));
    return files;
}

// The UTF-8 path a path-only record carries; empty without a record.
std::string recordPath(const void* record, std::size_t offset) {
    return record ? readUtf16Path(readField<const char16_t*>(record, offset)) : std::string();
}

}  // namespace

Result imQueryInputFileListHandler(void* record) {
    using namespace filelistrec;
    LockedClip clip(record, kPrivateData);
    if (!clip || clip->path.empty()) {
        return imUnsupported;
    }
    const std::vector<std::string> files = clipFiles(*clip);
    auto* entries = readField<uint8_t*>(record, kEntries);
    const char* path = clip->path.c_str();
    if (!entries) {
        writeField<int32_t>(record, kCount, static_cast<int32_t>(files.size()));
        Logger::log(LogLevel::Debug, "imQueryInputFileList (count): %d files for %s",
                    static_cast<int32_t>(files.size()), path);
        return imNoErr;
    }
    const auto filled = static_cast<int32_t>(std::min<std::size_t>(
        static_cast<std::size_t>(std::max(readField<int32_t>(record, kCount), 0)), files.size()));
    for (int32_t i = 0; i < filled; ++i) {
        HostString name{};
        if (!createHostString(files[static_cast<std::size_t>(i)], name)) {
            Logger::log(LogLevel::Warning,
                        "imQueryInputFileList: the host created no string for %s; its entry "
                        "stays empty",
                        files[static_cast<std::size_t>(i)].c_str());
        }
        writeField<HostString>(entries + static_cast<std::size_t>(i) * kEntryBytes, 0, name);
    }
    Logger::log(LogLevel::Debug, "imQueryInputFileList (fill): %d paths for %s", filled, path);
    return imNoErr;
}

Result imQueryContentStateHandler(void* record) {
    using namespace contentstaterec;
    const std::string path = recordPath(record, kPath);
    if (path.empty()) {
        return imUnsupported;
    }
    const std::optional<uint64_t> state = fingerprintOfFiles({path});
    if (!state) {
        return imCannotExamineFile;
    }
    const std::string text = contentStateText(*state);
    auto* field = static_cast<char*>(record) + kState;
    const std::size_t length = std::min(text.size(), kStateBytes - 1);
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
    return imNoErr;
}

Result imQueryDestinationPathHandler(void* record) {
    using namespace destpathrec;
    const std::string source = recordPath(record, kSourcePath);
    if (source.empty()) {
        return imUnsupported;
    }
    const std::string destination = platform::utf8FromPath(acceleratorPathFor(source));
    if (destination.empty()) {
        return imUnsupported;
    }
    if (auto* buffer = readField<char16_t*>(record, kDestination)) {
        writeUtf16Field(buffer, 0, kDestinationUnits, destination);
    }
    Logger::log(LogLevel::Debug, "imQueryDestinationPath: %s -> %s", source.c_str(),
                destination.c_str());
    return imNoErr;
}

}  // namespace kestrova::host
