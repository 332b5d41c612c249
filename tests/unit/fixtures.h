// The generated test media (tools/make-fixtures.sh, run by the build into
// <build>/fixtures) and a log capture for tests that check messages.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/logger.h"
#include "test_support.h"

namespace kestrova::test {

inline std::string fixturePath(const std::string& name) {
    return platform::utf8FromPath(buildFolder() / "fixtures" / name);
}

// A fixture name as a test name: anything but letters and digits becomes '_'.
inline std::string safeName(std::string name) {
    std::replace_if(
        name.begin(), name.end(), [](unsigned char c) { return !std::isalnum(c); }, '_');
    return name;
}

// How often `needle` stands in `text`.
inline int occurrences(const std::string& text, const std::string& needle) {
    int found = 0;
    for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        ++found;
    }
    return found;
}

// One row of manifest.tsv; frames is -1 where the manifest has "-".
struct FixtureEntry {
    std::string name;
    std::string kind;
    int64_t frames = -1;
};

inline std::vector<FixtureEntry> fixtureManifest() {
    std::vector<FixtureEntry> entries;
    std::ifstream in(fixturePath("manifest.tsv"));
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        FixtureEntry entry;
        std::string frames;
        if (std::getline(fields, entry.name, '\t') && std::getline(fields, entry.kind, '\t') &&
            std::getline(fields, frames)) {
            if (!frames.empty() && frames.find_first_not_of("0123456789") == std::string::npos) {
                entry.frames = std::stoll(frames);
            }
            entries.push_back(entry);
        }
    }
    return entries;
}

inline std::vector<FixtureEntry> fixturesOfKind(const std::string& kind) {
    std::vector<FixtureEntry> chosen;
    for (const FixtureEntry& entry : fixtureManifest()) {
        if (entry.kind == kind) {
            chosen.push_back(entry);
        }
    }
    return chosen;
}

// Routes the log to a private folder at debug level for the object's life
// (not copyable: the folder and the variable are its own).
class LogCapture {
  public:
    LogCapture() : oldLevel_(Logger::level()) {
        Logger::close();
        Logger::setLevel(static_cast<int32_t>(LogLevel::Debug));
    }
    ~LogCapture() {
        Logger::close();
        Logger::setLevel(oldLevel_);
    }

    std::string text() {
        Logger::close();
        return readFile(logFileIn(dir_));
    }
    int count(const std::string& needle) { return occurrences(text(), needle); }

  private:
    int32_t oldLevel_;
    TempDir dir_;
    ScopedEnv env_{"LOCALAPPDATA", dir_.str().c_str()};
};

}  // namespace kestrova::test
