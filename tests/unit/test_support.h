// Helpers shared by the unit tests.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>

#include "platform/platform.h"

namespace kestrova::test {

// A fresh temporary folder, removed with the object.
class TempDir {
  public:
    TempDir() {
        static std::atomic<unsigned> counter{0};
        std::random_device random;
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        do {
            path_ = base / ("kestrova-" + std::to_string(random()) + "-" +
                            std::to_string(counter.fetch_add(1)));
        } while (!std::filesystem::create_directory(path_));
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return platform::utf8FromPath(path_); }

  private:
    std::filesystem::path path_;
};

// Sets an environment variable for the scope, restoring the old value after.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value)
        : name_(name), old_(platform::environmentVariable(name)) {
        platform::setEnvironmentVariable(name, value);
    }
    ~ScopedEnv() {
        platform::setEnvironmentVariable(name_.c_str(), old_ ? old_->c_str() : nullptr);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> old_;
};

// The build folder: the test programs run from its bin/ folder.
inline std::filesystem::path buildFolder() {
    return platform::pathFromUtf8(platform::executablePath()).parent_path().parent_path();
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The log file written while LOCALAPPDATA names `appData`.
inline std::filesystem::path logFileIn(const TempDir& appData) {
    return appData.path() / "Kestrova" / "logs" / "Kestrova.log";
}

}  // namespace kestrova::test
