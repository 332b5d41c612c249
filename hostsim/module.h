// Loading the importer module the way a host does, and calling its entry.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "host/host_api.h"

namespace kestrova::hostsim {

// Whether a private copy of the module sees the FFmpeg folder of the original.
enum class FfmpegFolder { Linked, Missing };

// A fresh temporary folder holding a copy of a module file and, when asked
// and present beside the original, a symbolic link "ffmpeg" to the original's
// FFmpeg folder. The folder is removed when the copy is destroyed.
class ModuleCopy {
  public:
    // Null with `error` set when the folder or the copy cannot be made.
    static std::unique_ptr<ModuleCopy> create(const std::filesystem::path& original,
                                              FfmpegFolder ffmpeg, std::string& error);
    ~ModuleCopy();
    ModuleCopy(const ModuleCopy&) = delete;
    ModuleCopy& operator=(const ModuleCopy&) = delete;

    const std::filesystem::path& folder() const { return folder_; }
    const std::filesystem::path& modulePath() const { return modulePath_; }

  private:
    ModuleCopy(std::filesystem::path folder, std::filesystem::path modulePath);
    std::filesystem::path folder_;
    std::filesystem::path modulePath_;
};

// A loaded module and its entry point. Modules are never unloaded: FFmpeg may
// still hold callbacks into them (its log callback), and the module's own
// threads may outlive the host's last call.
class Module {
  public:
    // Loads the module file itself. Loading one path twice shares its state.
    static std::unique_ptr<Module> load(const std::filesystem::path& path, std::string& error);
    // Loads a private copy: its own process-wide state (logger, preferences,
    // FFmpeg runtime, registry), so once-per-process behaviour can be tested
    // again. With FfmpegFolder::Missing the copy finds no FFmpeg.
    static std::unique_ptr<Module> loadPrivateCopy(const std::filesystem::path& path,
                                                   FfmpegFolder ffmpeg, std::string& error);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // Calls the entry point; safe from several threads at once.
    host::Result call(host::Selector selector, void* stdParms, void* param1, void* param2) const {
        return entry_(selector, stdParms, param1, param2);
    }
    // The file that was loaded (the copy for a private copy).
    const std::filesystem::path& path() const { return path_; }

  private:
    Module(std::filesystem::path path, host::ImportEntryFn entry, std::unique_ptr<ModuleCopy> copy);
    std::filesystem::path path_;
    host::ImportEntryFn entry_;
    std::unique_ptr<ModuleCopy> copy_;
};

}  // namespace kestrova::hostsim
