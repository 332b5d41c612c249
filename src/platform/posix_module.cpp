// Module identity and dynamic libraries on POSIX systems.
#include <dlfcn.h>
#include <link.h>

#include <climits>
#include <cstdlib>

#include "platform/platform.h"

namespace kestrova::platform {

namespace {

// Any function of this module: the loader maps its address to the module.
void moduleAnchor() {}

// The loader's record of this module; null when the address is unknown.
link_map* ownModule() {
    Dl_info info{};
    link_map* module = nullptr;
    if (dladdr1(reinterpret_cast<void*>(&moduleAnchor), &info, reinterpret_cast<void**>(&module),
                RTLD_DL_LINKMAP) == 0) {
        return nullptr;
    }
    return module;
}

// The main program has no name in the link map.
bool isMainProgram(const link_map& module) {
    return module.l_name == nullptr || module.l_name[0] == '\0';
}

}  // namespace

std::string modulePath() {
    const link_map* module = ownModule();
    if (module == nullptr) {
        return {};
    }
    // For the main program the loader only knows argv[0], which is relative
    // to a working folder that may have changed since.
    const char* name = isMainProgram(*module) ? "/proc/self/exe" : module->l_name;
    char resolved[PATH_MAX];
    if (realpath(name, resolved) == nullptr) {
        return {};
    }
    return resolved;
}

LibraryHandle loadLibrary(const std::string& path, std::string& error) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = dlerror();
        error = std::string("dlopen failed: ") + (reason != nullptr ? reason : "unknown error");
    }
    return library;
}

void* findSymbol(LibraryHandle library, const char* name) {
    if (library == nullptr || name == nullptr) {
        return nullptr;
    }
    return dlsym(library, name);
}

void freeLibrary(LibraryHandle library) {
    if (library != nullptr) {
        dlclose(library);
    }
}

std::string sharedLibraryFileName(std::string_view baseName, int major) {
    return "lib" + std::string(baseName) + ".so." + std::to_string(major);
}

bool pinOwnModule() {
    const link_map* module = ownModule();
    if (module == nullptr) {
        return false;
    }
    if (isMainProgram(*module)) {
        return true;  // never unloaded
    }
    // Reopening the loaded module by the name the loader knows it by marks it
    // undeletable; the extra reference is kept on purpose.
    return dlopen(module->l_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
}

}  // namespace kestrova::platform
