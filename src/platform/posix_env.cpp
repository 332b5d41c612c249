// Environment variables and per-user folders on POSIX systems.
#include <cstdlib>

#include "platform/platform.h"

namespace kestrova::platform {

namespace {

// The longest folder the Windows build can use (MAX_PATH less the terminator);
// both builds apply the same rule so behaviour matches.
constexpr std::size_t kMaxFolderLength = 259;

std::string usableFolder(std::string folder) {
    if (folder.empty() || folder.size() > kMaxFolderLength) {
        return {};
    }
    return folder;
}

}  // namespace

std::optional<std::string> environmentVariable(const char* name) {
    if (name == nullptr) {
        return std::nullopt;
    }
    const char* value = std::getenv(name);
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

std::string localAppDataFolder() {
    // The first candidate that is set decides; one that is set but too long
    // leaves no folder rather than silently writing somewhere else.
    if (auto local = environmentVariable("LOCALAPPDATA"); local && !local->empty()) {
        return usableFolder(std::move(*local));
    }
    // The desktop data folder; relative values are invalid and ignored.
    if (auto data = environmentVariable("XDG_DATA_HOME");
        data && !data->empty() && data->front() == kPathSeparator) {
        return usableFolder(std::move(*data));
    }
    if (auto home = environmentVariable("HOME"); home && !home->empty()) {
        return usableFolder(joinPath(*home, ".local/share"));
    }
    return {};
}

std::string temporaryFolder() {
    if (auto folder = environmentVariable("TMPDIR"); folder && !folder->empty()) {
        return *folder;
    }
    return "/tmp";
}

}  // namespace kestrova::platform
