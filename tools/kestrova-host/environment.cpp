// The per-user environment a run of kestrova-host gives the module.
#include <fstream>
#include <string_view>
#include <system_error>
#include <vector>

#include "cli_options.h"
#include "platform/platform.h"

namespace kestrova::cli {
namespace {
namespace fs = std::filesystem;

// The key of a preferences line as the module reads it: before the first
// "=", after cutting the comment, trimmed of blanks and tabs.
std::string_view lineKey(std::string_view line) {
    line = line.substr(0, line.find('#'));
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) {
        return {};
    }
    std::string_view key = line.substr(0, equals);
    const auto first = key.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return key.substr(first, key.find_last_not_of(" \t") - first + 1);
}

bool writeLogLevel(const fs::path& appData, int32_t level, std::string& error) {
    const fs::path folder = appData / "Kestrova";
    const fs::path prefs = folder / "kestrova.prefs";
    std::error_code ec;
    fs::create_directories(folder, ec);
    std::vector<std::string> lines;
    if (std::ifstream in(prefs, std::ios::binary); in) {
        for (std::string line; std::getline(in, line);) {
            if (lineKey(line) != "logLevel") {
                lines.push_back(std::move(line));
            }
        }
    }
    lines.push_back("logLevel=" + std::to_string(level));
    // Written beside the file and moved over it, so a failed write loses nothing.
    const fs::path temporary = folder / "kestrova.prefs.new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        for (const std::string& line : lines) {
            out << line << '\n';
        }
        if (!out.flush()) {
            error = "cannot write " + platform::utf8FromPath(temporary);
            return false;
        }
    }
    fs::rename(temporary, prefs, ec);
    if (ec) {
        error = "cannot replace " + platform::utf8FromPath(prefs) + ": " + ec.message();
        return false;
    }
    return true;
}

}  // namespace

bool applyEnvironment(const GlobalOptions& options, std::string& error) {
    std::error_code ec;
    if (options.appData) {
        const fs::path folder = fs::absolute(*options.appData, ec);
        if (!ec) {
            fs::create_directories(folder, ec);
        }
        if (ec || !fs::is_directory(folder, ec)) {
            error = "cannot create " + platform::utf8FromPath(*options.appData);
            return false;
        }
        if (!platform::setEnvironmentVariable("LOCALAPPDATA",
                                              platform::utf8FromPath(folder).c_str())) {
            error = "cannot set LOCALAPPDATA";
            return false;
        }
    }
    if (options.logLevel) {
        const std::string appData = platform::localAppDataFolder();
        if (appData.empty()) {
            error = "no per-user data folder for the preferences; use --appdata";
            return false;
        }
        return writeLogLevel(appData, *options.logLevel, error);
    }
    return true;
}

}  // namespace kestrova::cli
