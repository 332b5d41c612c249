// Shared helpers of the module tests: the built module and tool, scoped
// per-user folders and private module copies.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "../unit/test_support.h"
#include "host.h"
#include "module.h"
#include "platform/platform.h"

namespace kestrova::moduletest {

#if defined(_WIN32)
inline constexpr const char* kProgramSuffix = ".exe";
#else
inline constexpr const char* kProgramSuffix = "";
#endif
inline const std::filesystem::path kModulePath = test::buildFolder() / "bin" / "Kestrova.prm";
inline const std::filesystem::path kToolPath =
    test::buildFolder() / "bin" / (std::string("kestrova-host") + kProgramSuffix);
inline const std::filesystem::path kIndexToolPath =
    test::buildFolder() / "bin" / (std::string("kestrova-index") + kProgramSuffix);

using test::readFile;
using TempFolder = test::TempDir;

// The module as the host loads it, shared by every test of the process.
// LOCALAPPDATA is pointed at a fresh folder first unless the runner set it.
inline const hostsim::Module* sharedModule() {
    static const TempFolder fallbackAppData;
    static const std::unique_ptr<hostsim::Module> module = [] {
        if (!platform::environmentVariable("LOCALAPPDATA")) {
            platform::setEnvironmentVariable("LOCALAPPDATA", fallbackAppData.str().c_str());
        }
        std::string error;
        auto loaded = hostsim::Module::load(kModulePath, error);
        EXPECT_NE(loaded, nullptr) << error;
        return loaded;
    }();
    return module.get();
}

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

// A fresh per-user data folder set as LOCALAPPDATA for the object's lifetime,
// holding `prefs` as the preferences file when given. Declare it before the
// module and host that use it, so they are gone before it is.
struct ScopedAppData {
    explicit ScopedAppData(const std::optional<std::string>& prefs = std::nullopt) {
        if (prefs) {
            std::filesystem::create_directories(folder.path() / "Kestrova");
            std::ofstream(folder.path() / "Kestrova" / "kestrova.prefs") << *prefs;
        }
    }
    std::filesystem::path logFile() const { return test::logFileIn(folder); }

    test::TempDir folder;
    test::ScopedEnv env{"LOCALAPPDATA", folder.str().c_str()};
};

// A private copy of the module (fails the test when it cannot be made).
inline std::unique_ptr<hostsim::Module> privateModule(hostsim::FfmpegFolder ffmpeg) {
    std::string error;
    auto module = hostsim::Module::loadPrivateCopy(kModulePath, ffmpeg, error);
    EXPECT_NE(module, nullptr) << error;
    return module;
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

// A program's text output with Windows line ends read as plain line feeds.
inline std::string withoutCarriageReturns(std::string text) {
    std::erase(text, '\r');
    return text;
}

// A run of one of the programs with its output.
struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline ToolRun runProgram(const std::filesystem::path& program,
                          const std::vector<std::string>& arguments) {
    TempFolder capture;
    const std::filesystem::path out = capture.path() / "out", err = capture.path() / "err";
    const int code = platform::runProgram(platform::utf8FromPath(program), arguments,
                                          platform::utf8FromPath(out), platform::utf8FromPath(err));
    return {code, withoutCarriageReturns(readFile(out)), withoutCarriageReturns(readFile(err))};
}

inline ToolRun runTool(const std::vector<std::string>& arguments) {
    return runProgram(kToolPath, arguments);
}

}  // namespace kestrova::moduletest
