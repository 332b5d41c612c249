#include "cli_options.h"

#include <charconv>
#include <cstdlib>
#include <string_view>

#include "platform/platform.h"

namespace kestrova::cli {
namespace {

bool parseLogLevel(std::string_view text, int32_t& level) {
    const char* end = text.data() + text.size();
    const auto [next, ec] = std::from_chars(text.data(), end, level);
    return ec == std::errc() && next == end && level >= 0 && level <= 5;
}

}  // namespace

bool parseCommandLine(const std::vector<std::string>& words, CommandLine& out, std::string& error) {
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word.size() < 2 || word[0] != '-') {
            if (out.command.empty()) {
                out.command = word;
            } else {
                out.arguments.push_back(word);
            }
            continue;
        }
        std::string name = word;
        std::optional<std::string> value;
        if (const auto equals = word.find('='); equals != std::string::npos) {
            name = word.substr(0, equals);
            value = word.substr(equals + 1);
        }
        const bool takesValue = name == "--module" || name == "--appdata" ||
                                name == "--log-level" || name == "--stream";
        if (takesValue && !value) {
            if (i + 1 == words.size()) {
                error = name + " needs a value";
                return false;
            }
            value = words[++i];
        }
        if (takesValue && value->empty()) {
            error = name + " needs a value";
            return false;
        } else if (!takesValue && value) {
            error = name + " takes no value";
            return false;
        }
        if (name == "--module") {
            out.options.module = *value;
        } else if (name == "--appdata") {
            out.options.appData = *value;
        } else if (name == "--log-level") {
            int32_t level = 0;
            if (!parseLogLevel(*value, level)) {
                error = "--log-level needs a level from 0 to 5, not '" + *value + "'";
                return false;
            }
            out.options.logLevel = level;
        } else if (name == "--stream") {
            char* end = nullptr;
            const long stream = std::strtol(value->c_str(), &end, 10);
            if (*end != '\0' || stream < 0 || stream > 1000000) {
                error = "--stream needs a host stream index, not '" + *value + "'";
                return false;
            }
            out.options.stream = static_cast<int32_t>(stream);
        } else if (name == "--json") {
            out.options.json = true;
        } else if (name == "--help" || name == "-h") {
            out.options.help = true;
        } else {
            error = "unknown option " + name;
            return false;
        }
    }
    return true;
}

std::filesystem::path modulePath(const GlobalOptions& options) {
    if (!options.module.empty()) {
        return options.module;
    }
    const std::filesystem::path program = platform::executablePath();
    return program.empty() ? std::filesystem::path("Kestrova.prm")
                           : program.parent_path() / "Kestrova.prm";
}

}  // namespace kestrova::cli
