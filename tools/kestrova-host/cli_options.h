// Command-line options shared by every command of kestrova-host.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::cli {

// Exit codes of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitImporterFailed = 2;
inline constexpr int kExitDeclined = 3;

struct GlobalOptions {
    std::filesystem::path module;  // empty: Kestrova.prm beside the program
    std::optional<std::filesystem::path> appData;
    std::optional<int32_t> logLevel;
    std::optional<int32_t> stream;  // info: the host stream to open with
    bool json = false;
    bool help = false;
};

struct CommandLine {
    GlobalOptions options;
    std::string command;  // empty when none was given
    std::vector<std::string> arguments;
};

// Options may stand before or after the command, as "--name value" or
// "--name=value". False with `error` set on a usage error.
bool parseCommandLine(const std::vector<std::string>& words, CommandLine& out, std::string& error);

// The module to load: the one named by --module, else the one beside the program.
std::filesystem::path modulePath(const GlobalOptions& options);

// Applies --appdata (sets LOCALAPPDATA, creating the folder) and --log-level
// (sets logLevel in the preferences file, keeping its other lines).
bool applyEnvironment(const GlobalOptions& options, std::string& error);

}  // namespace kestrova::cli
