#include "module_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/platform.h"

namespace kestrova::moduletest {
namespace fs = std::filesystem;

const hostsim::Module* sharedModule() {
    static const std::unique_ptr<TempFolder> appData = [] {
        std::unique_ptr<TempFolder> folder;
        if (!platform::environmentVariable("LOCALAPPDATA")) {
            folder = std::make_unique<TempFolder>();
            platform::setEnvironmentVariable("LOCALAPPDATA", folder->path().c_str());
        }
        return folder;
    }();
    static const std::unique_ptr<hostsim::Module> module = [] {
        std::string error;
        std::unique_ptr<hostsim::Module> loaded = hostsim::Module::load(kModulePath, error);
        if (!loaded) {
            ADD_FAILURE() << error;
        }
        return loaded;
    }();
    return module.get();
}

TempFolder::TempFolder() {
    std::random_device random;
    const fs::path base = fs::temp_directory_path();
    do {
        path_ = base / ("kestrova-test-" + std::to_string(random()));
    } while (!fs::create_directory(path_));
}

TempFolder::~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

ScopedAppData::ScopedAppData(std::optional<std::string> prefs)
    : previous_(platform::environmentVariable("LOCALAPPDATA")) {
    if (prefs) {
        fs::create_directories(path() / "Kestrova");
        std::ofstream(path() / "Kestrova" / "kestrova.prefs") << *prefs;
    }
    platform::setEnvironmentVariable("LOCALAPPDATA", path().c_str());
}

ScopedAppData::~ScopedAppData() {
    platform::setEnvironmentVariable("LOCALAPPDATA", previous_ ? previous_->c_str() : nullptr);
}

fs::path ScopedAppData::logFile() const {
    return path() / "Kestrova" / "logs" / "Kestrova.log";
}

std::unique_ptr<hostsim::Module> privateModule(hostsim::FfmpegFolder ffmpeg) {
    std::string error;
    std::unique_ptr<hostsim::Module> module =
        hostsim::Module::loadPrivateCopy(kModulePath, ffmpeg, error);
    EXPECT_NE(module, nullptr) << error;
    return module;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

namespace {

std::string shellQuoted(const std::string& word) {
    std::string quoted = "'";
    for (char c : word) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

}  // namespace

// The shell records the exit code in a file, so no process API is needed here.
ToolRun runTool(const std::vector<std::string>& arguments) {
    TempFolder capture;
    std::string command = shellQuoted(kToolPath.string());
    for (const std::string& argument : arguments) {
        command += " " + shellQuoted(argument);
    }
    const fs::path out = capture.path() / "out", err = capture.path() / "err",
                   code = capture.path() / "code";
    command +=
        " >" + shellQuoted(out) + " 2>" + shellQuoted(err) + "; echo $? >" + shellQuoted(code);
    ToolRun run;
    const std::string codeText = std::system(command.c_str()) == 0 ? readFile(code) : "";
    if (codeText.empty()) {
        return run;
    }
    run.exitCode = std::stoi(codeText);
    run.out = readFile(out);
    run.err = readFile(err);
    return run;
}

}  // namespace kestrova::moduletest
