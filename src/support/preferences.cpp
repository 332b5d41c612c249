#include "support/preferences.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/platform.h"
#include "support/logger.h"

namespace kestrova {
namespace {

constexpr std::size_t kMaxLineLength = 65536;
constexpr const char* kPreferencesFileName = "kestrova.prefs";

// Reads up to the next "\n", keeping at most kMaxLineLength characters and
// discarding the rest of an over-long line. False at end of input.
bool readCappedLine(std::istream& in, std::string& line) {
    line.clear();
    std::streambuf* buffer = in.rdbuf();
    if (buffer == nullptr) {
        return false;
    }
    int c = buffer->sbumpc();
    if (c == std::char_traits<char>::eof()) {
        return false;
    }
    while (c != std::char_traits<char>::eof() && c != '\n') {
        if (line.size() < kMaxLineLength) {
            line.push_back(static_cast<char>(c));
        }
        c = buffer->sbumpc();
    }
    return true;
}

// Only blanks and tabs count: users' values never carry other white space.
std::string_view trimBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool isYes(std::string_view value) {
    return value == "1" || value == "true" || value == "yes";
}
bool isNo(std::string_view value) {
    return value == "0" || value == "false" || value == "no";
}

// Base-10 string-to-int semantics: leading white space and a sign allowed,
// trailing text ignored; empty when no number leads or it overflows 32 bits.
std::optional<int32_t> leadingInt(std::string_view value) {
    const std::string text(value);
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || errno == ERANGE || parsed < INT32_MIN || parsed > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<int32_t>(parsed);
}

void applyLine(Preferences& prefs, std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    // "#" starts a comment wherever it stands, even inside a value.
    line = line.substr(0, line.find('#'));
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
        return;
    }
    const std::string_view key = trimBlanks(line.substr(0, equals));
    const std::string_view value = trimBlanks(line.substr(equals + 1));
    if (key == "preferOverBuiltIn") {
        prefs.preferOverBuiltIn = isYes(value);
    } else if (key == "logLevel") {
        if (const auto level = leadingInt(value)) {
            prefs.logLevel = *level;
        }
    } else if (key == "enableHardwareDecoding") {
        prefs.enableHardwareDecoding = !isNo(value);
    } else if (key == "forceHardwareDecoding") {
        prefs.forceHardwareDecoding = isYes(value);
    } else if (key == "frameCacheMiB") {
        const auto mib = leadingInt(value);
        if (mib && *mib >= 16 && *mib <= 4096) {
            prefs.frameCacheMiB = *mib;
        }
    }
}

const std::string& preferencesFilePath() {
    static const std::string path = appDataFilePath(kPreferencesFileName);
    return path;
}

}  // namespace

Preferences parsePreferences(std::istream& in) {
    Preferences prefs;
    std::string line;
    while (readCappedLine(in, line)) {
        applyLine(prefs, line);
    }
    return prefs;
}

Preferences parsePreferences(std::string_view text) {
    std::istringstream in{std::string(text)};
    return parsePreferences(in);
}

std::optional<Preferences> readPreferencesFile(const std::string& path) {
    if (path.empty()) {
        return std::nullopt;
    }
    std::ifstream in(platform::pathFromUtf8(path));
    if (!in.is_open()) {
        return std::nullopt;
    }
    return parsePreferences(in);
}

const Preferences& Preferences::get() {
    static Preferences prefs;
    static std::atomic<bool> loaded{false};
    static std::mutex mutex;
    if (loaded.load(std::memory_order_acquire)) {
        return prefs;
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (!loaded.load(std::memory_order_relaxed)) {
        const std::string& path = preferencesFilePath();
        if (const auto fromFile = readPreferencesFile(path)) {
            prefs = *fromFile;
            Logger::log(LogLevel::Info, "prefs loaded from %s (priority=%d)", path.c_str(),
                        prefs.priority());
        }
        loaded.store(true, std::memory_order_release);
    }
    return prefs;
}

std::string appDataFilePath(const char* fileName) {
    if (fileName == nullptr || *fileName == '\0') {
        return {};
    }
    const std::string folder = platform::localAppDataFolder();
    if (folder.empty()) {
        return {};
    }
    std::string path = folder;
    path += platform::kPathSeparator;
    path += "Kestrova";
    path += platform::kPathSeparator;
    path += fileName;
    return path;
}

bool ensureParentDirectory(const std::string& path) {
    const std::size_t separator = path.find_last_of("\\/");
    if (separator == std::string::npos) {
        return true;
    }
    return platform::createDirectory(path.substr(0, separator));
}

}  // namespace kestrova
