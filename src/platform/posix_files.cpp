// Files and folders on POSIX systems.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/platform.h"

namespace kestrova::platform {

namespace {

// Seconds from 1601-01-01 to 1970-01-01: file times use the Windows epoch so
// content states and cache files agree across platforms.
constexpr int64_t kEpochDifferenceSeconds = 11644473600;
constexpr int64_t kUnitsPerSecond = 10'000'000;

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::optional<FileStatus> fileStatus(const std::string& path) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    FileStatus status;
    status.isDirectory = S_ISDIR(info.st_mode);
    status.size = status.isDirectory || info.st_size < 0 ? 0 : static_cast<uint64_t>(info.st_size);
    status.lastWrite100ns =
        (static_cast<int64_t>(info.st_mtim.tv_sec) + kEpochDifferenceSeconds) * kUnitsPerSecond +
        static_cast<int64_t>(info.st_mtim.tv_nsec) / 100;
    return status;
}

bool createDirectory(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    if (::mkdir(path.c_str(), 0755) == 0) {
        return true;
    }
    return errno == EEXIST && isDirectory(path);
}

bool createDirectories(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    // Create each prefix that ends before a separator, then the whole path.
    for (std::size_t end = path.find(kPathSeparator, 1); end != std::string::npos;
         end = path.find(kPathSeparator, end + 1)) {
        if (path[end - 1] == kPathSeparator) {
            continue;
        }
        const std::string prefix = path.substr(0, end);
        if (!isDirectory(prefix) && !createDirectory(prefix)) {
            return false;
        }
    }
    return createDirectory(path);
}

bool replaceFile(const std::string& from, const std::string& to) {
    return !from.empty() && !to.empty() && std::rename(from.c_str(), to.c_str()) == 0;
}

bool removeFile(const std::string& path) {
    return !path.empty() && ::unlink(path.c_str()) == 0;
}

std::FILE* openFile(const std::string& path, const char* mode) {
    return path.empty() || mode == nullptr ? nullptr : std::fopen(path.c_str(), mode);
}

}  // namespace kestrova::platform
