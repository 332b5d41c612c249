// Module identity and dynamic libraries on Windows.
#include <windows.h>

#include "platform/win32_wide.h"

namespace kestrova::platform {

namespace {

// Any function of this module: the loader maps its address to the module.
void moduleAnchor() {}

// The full path of a loaded module (null: the program), however long.
std::string modulePathOf(HMODULE module) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 8; ++attempt) {
        const DWORD length =
            GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            return narrow(buffer);
        }
        buffer.resize(buffer.size() * 2);  // truncated
    }
    return {};
}

HMODULE ownModule(DWORD extraFlags) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | extraFlags,
                            reinterpret_cast<LPCWSTR>(&moduleAnchor), &module)) {
        return nullptr;
    }
    return module;
}

}  // namespace

std::string modulePath() {
    const HMODULE module = ownModule(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT);
    return module != nullptr ? modulePathOf(module) : std::string();
}

std::string executablePath() {
    return modulePathOf(nullptr);
}

std::string sharedLibraryFileName(std::string_view baseName, int major) {
    return std::string(baseName) + "-" + std::to_string(major) + ".dll";
}

LibraryHandle loadLibrary(const std::string& path, std::string& error) {
    const std::wstring wide = widen(path);
    // Each FFmpeg library finds its siblings in its own folder first, never
    // in the host's folder or the current one.
    HMODULE library =
        wide.empty()
            ? nullptr
            : LoadLibraryExW(wide.c_str(), nullptr,
                             LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (library == nullptr) {
        error = "LoadLibraryExW failed, GetLastError=" +
                std::to_string(wide.empty() ? ERROR_INVALID_NAME : GetLastError());
    }
    return reinterpret_cast<LibraryHandle>(library);
}

void* findSymbol(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void freeLibrary(LibraryHandle library) {
    if (library != nullptr) {
        FreeLibrary(static_cast<HMODULE>(library));
    }
}

bool pinOwnModule() {
    return ownModule(GET_MODULE_HANDLE_EX_FLAG_PIN) != nullptr;
}

}  // namespace kestrova::platform
