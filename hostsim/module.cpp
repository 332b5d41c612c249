#include "module.h"

#include <atomic>
#include <random>
#include <system_error>

#include "platform/platform.h"

namespace kestrova::hostsim {
namespace fs = std::filesystem;

namespace {

// A new, empty folder under the system's temporary folder.
fs::path makeFreshFolder(std::string& error) {
    static std::atomic<uint32_t> counter{0};
    std::error_code ec;
    fs::path base = platform::temporaryFolder();
    if (base.empty()) {
        base = fs::temp_directory_path(ec);
        if (ec) {
            error = "no temporary folder: " + ec.message();
            return {};
        }
    }
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path folder = base / ("kestrova-host-" + std::to_string(random()) + "-" +
                                        std::to_string(counter.fetch_add(1)));
        if (fs::create_directory(folder, ec)) {
            return folder;
        }
    }
    error = "cannot create a folder under " + platform::utf8FromPath(base) + ": " + ec.message();
    return {};
}

}  // namespace

ModuleCopy::ModuleCopy(fs::path folder, fs::path modulePath)
    : folder_(std::move(folder)), modulePath_(std::move(modulePath)) {}

ModuleCopy::~ModuleCopy() {
    std::error_code ec;
    fs::remove_all(folder_, ec);  // the symbolic link is removed, never its target
}

std::unique_ptr<ModuleCopy> ModuleCopy::create(const fs::path& original, FfmpegFolder ffmpeg,
                                               std::string& error) {
    std::error_code ec;
    const fs::path source = fs::canonical(original, ec);
    if (ec) {
        error = "cannot resolve " + platform::utf8FromPath(original) + ": " + ec.message();
        return nullptr;
    }
    fs::path folder = makeFreshFolder(error);
    if (folder.empty()) {
        return nullptr;
    }
    std::unique_ptr<ModuleCopy> copy(new ModuleCopy(folder, folder / source.filename()));
    if (!fs::copy_file(source, copy->modulePath_, ec)) {
        error = "cannot copy " + platform::utf8FromPath(source) + ": " + ec.message();
        return nullptr;
    }
    const fs::path ffmpegFolder = source.parent_path() / "ffmpeg";
    if (ffmpeg == FfmpegFolder::Linked && fs::is_directory(ffmpegFolder, ec)) {
        // A copy where links need privileges the process lacks (Windows).
        fs::create_directory_symlink(ffmpegFolder, folder / "ffmpeg", ec);
        if (ec) {
            ec.clear();
            fs::copy(ffmpegFolder, folder / "ffmpeg", ec);
        }
        if (ec) {
            error =
                "cannot link or copy " + platform::utf8FromPath(ffmpegFolder) + ": " + ec.message();
            return nullptr;
        }
    }
    return copy;
}

Module::Module(fs::path path, host::ImportEntryFn entry, std::unique_ptr<ModuleCopy> copy)
    : path_(std::move(path)), entry_(entry), copy_(std::move(copy)) {}

// The library handle is dropped on purpose: see the class comment.
Module::~Module() = default;

std::unique_ptr<Module> Module::load(const fs::path& path, std::string& error) {
    platform::LibraryHandle library = platform::loadLibrary(platform::utf8FromPath(path), error);
    if (!library) {
        return nullptr;
    }
    auto entry = reinterpret_cast<host::ImportEntryFn>(
        platform::findSymbol(library, host::kImportEntryName));
    if (!entry) {
        error = platform::utf8FromPath(path) + " does not export " + host::kImportEntryName;
        return nullptr;
    }
    return std::unique_ptr<Module>(new Module(path, entry, nullptr));
}

std::unique_ptr<Module> Module::loadPrivateCopy(const fs::path& path, FfmpegFolder ffmpeg,
                                                std::string& error) {
    std::unique_ptr<ModuleCopy> copy = ModuleCopy::create(path, ffmpeg, error);
    if (!copy) {
        return nullptr;
    }
    std::unique_ptr<Module> module = load(copy->modulePath(), error);
    if (!module) {
        return nullptr;
    }
    module->copy_ = std::move(copy);
    return module;
}

}  // namespace kestrova::hostsim
