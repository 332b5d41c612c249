// Files and folders on Windows, every path passed to the system as UTF-16.
#include <windows.h>

#include "platform/win32_wide.h"

namespace kestrova::platform {

namespace {

bool isDirectory(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool createOne(const std::wstring& path) {
    if (CreateDirectoryW(path.c_str(), nullptr)) {
        return true;
    }
    return GetLastError() == ERROR_ALREADY_EXISTS && isDirectory(path);
}

// Where the folders to create begin: after "C:\" or "\\server\share\".
std::size_t firstCreatableLevel(const std::string& path) {
    if (path.size() >= 2 && path[1] == ':') {
        return 2;
    }
    if (path.size() >= 2 && isPathSeparator(path[0]) && isPathSeparator(path[1])) {
        std::size_t at = 2;
        for (int part = 0; part < 2 && at < path.size(); ++part) {
            while (at < path.size() && !isPathSeparator(path[at])) {
                ++at;
            }
            ++at;
        }
        return at;
    }
    return 0;
}

}  // namespace

std::optional<FileStatus> fileStatus(const std::string& path) {
    const std::wstring wide = widen(path);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (wide.empty() || !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
        return std::nullopt;
    }
    FileStatus status;
    status.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    status.size = status.isDirectory
                      ? 0
                      : (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    // Already in 100 ns units since 1601, the unit the file caches store.
    status.lastWrite100ns =
        static_cast<int64_t>((static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                             data.ftLastWriteTime.dwLowDateTime);
    return status;
}

bool createDirectory(const std::string& path) {
    const std::wstring wide = widen(path);
    return !wide.empty() && createOne(wide);
}

bool createDirectories(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    for (std::size_t end = firstCreatableLevel(path) + 1; end < path.size(); ++end) {
        if (!isPathSeparator(path[end]) || isPathSeparator(path[end - 1])) {
            continue;
        }
        const std::wstring prefix = widen(path.substr(0, end));
        if (prefix.empty() || (!isDirectory(prefix) && !createOne(prefix))) {
            return false;
        }
    }
    return createDirectory(path);
}

bool replaceFile(const std::string& from, const std::string& to) {
    const std::wstring wideFrom = widen(from), wideTo = widen(to);
    return !wideFrom.empty() && !wideTo.empty() &&
           MoveFileExW(wideFrom.c_str(), wideTo.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool removeFile(const std::string& path) {
    const std::wstring wide = widen(path);
    return !wide.empty() && DeleteFileW(wide.c_str()) != 0;
}

std::FILE* openFile(const std::string& path, const char* mode) {
    const std::wstring wide = widen(path);
    return wide.empty() || mode == nullptr ? nullptr : _wfopen(wide.c_str(), widen(mode).c_str());
}

}  // namespace kestrova::platform
