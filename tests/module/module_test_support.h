// Shared helpers of the module tests: the built module and tool, scoped
// per-user folders and private module copies.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host.h"
#include "module.h"

namespace kestrova::moduletest {

inline const std::filesystem::path kModulePath = KESTROVA_BINARY_DIR "/bin/Kestrova.prm";
inline const std::filesystem::path kToolPath = KESTROVA_BINARY_DIR "/bin/kestrova-host";

// The module as the host loads it, shared by every test of the process;
// null when it cannot be loaded. LOCALAPPDATA is pointed at a fresh folder
// first unless the runner set it.
const hostsim::Module* sharedModule();

// Tests of the shared module.
class SharedModuleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        module_ = sharedModule();
        ASSERT_NE(module_, nullptr) << "cannot load " << kModulePath;
    }
    const hostsim::Module& module() const { return *module_; }

  private:
    const hostsim::Module* module_ = nullptr;
};

// A fresh empty folder, removed with everything in it at destruction.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// A fresh per-user data folder set as LOCALAPPDATA for the object's lifetime;
// the previous value comes back at destruction. Declare it before the module
// and host that use it, so they are gone before it is.
class ScopedAppData {
  public:
    // Writes `prefs` as the preferences file when given.
    explicit ScopedAppData(std::optional<std::string> prefs = std::nullopt);
    ~ScopedAppData();
    ScopedAppData(const ScopedAppData&) = delete;
    ScopedAppData& operator=(const ScopedAppData&) = delete;

    const std::filesystem::path& path() const { return folder_.path(); }
    std::filesystem::path logFile() const;

  private:
    TempFolder folder_;
    std::optional<std::string> previous_;
};

// A private copy of the module (fails the test when it cannot be made).
std::unique_ptr<hostsim::Module> privateModule(hostsim::FfmpegFolder ffmpeg);

std::string readFile(const std::filesystem::path& path);
std::vector<std::string> lines(const std::string& text);

// A run of kestrova-host with its output.
struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};
ToolRun runTool(const std::vector<std::string>& arguments);

}  // namespace kestrova::moduletest
