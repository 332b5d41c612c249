// Environment variables and per-user folders on Windows.
#include <windows.h>

#include "platform/win32_wide.h"

namespace kestrova::platform {

namespace {

// MAX_PATH less the terminator.
constexpr std::size_t kMaxFolderLength = 259;

}  // namespace

std::optional<std::string> environmentVariable(const char* name) {
    if (name == nullptr || *name == '\0') {
        return std::nullopt;
    }
    const std::wstring wideName = widen(name);
    std::wstring value(256, L'\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(),
                                                     static_cast<DWORD>(value.size()));
        if (length == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
                return std::nullopt;
            }
            return std::string();
        }
        if (length < value.size()) {
            value.resize(length);
            return narrow(value);
        }
        value.resize(length);  // the size needed, terminator included
    }
    return std::nullopt;
}

bool setEnvironmentVariable(const char* name, const char* value) {
    if (name == nullptr || *name == '\0') {
        return false;
    }
    const std::wstring wideName = widen(name);
    if (value == nullptr) {
        return SetEnvironmentVariableW(wideName.c_str(), nullptr) != 0;
    }
    return SetEnvironmentVariableW(wideName.c_str(), widen(value).c_str()) != 0;
}

std::string localAppDataFolder() {
    const auto folder = environmentVariable("LOCALAPPDATA");
    if (!folder || folder->empty() || widen(*folder).size() > kMaxFolderLength) {
        return {};
    }
    return *folder;
}

std::string temporaryFolder() {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) {
        return {};
    }
    std::wstring folder(buffer, length);
    if (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) {
        folder.pop_back();  // keep "C:\" whole
    }
    return narrow(folder);
}

}  // namespace kestrova::platform
