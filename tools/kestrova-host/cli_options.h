// Command-line options shared by every command of kestrova-host.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestrova::cli {

// Exit codes of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitImporterFailed = 2;
inline constexpr int kExitDeclined = 3;

// The most sample frames the importer accepts in one audio read.
inline constexpr int64_t kMaxAudioChunk = 268435456;
// The most requesting threads play --async starts.
inline constexpr int32_t kMaxRequestingThreads = 64;

struct GlobalOptions {
    std::filesystem::path module;  // empty: Kestrova.prm beside the program
    std::optional<std::filesystem::path> appData;
    std::optional<int32_t> logLevel;
    std::optional<int32_t> stream;  // the host stream to open with
    // frames and play
    std::vector<int64_t> at;                           // --at N,N,...
    std::optional<std::pair<int64_t, int64_t>> range;  // frames --range A:B: frames A..B-1
    std::optional<uint32_t> format;                    // --format FOURCC, catalogue spelling
    std::optional<std::filesystem::path> out;          // frames --out DIR, audio --out WAV
    std::optional<std::filesystem::path> sheet;        // --sheet PNG
    bool hash = false;
    std::optional<uint64_t> shuffle;  // --shuffle SEED
    std::optional<int64_t> frames;    // play --frames N
    bool async = false;               // play --async
    int32_t threads = 1;              // play --threads N, requesting threads
    bool scrub = false;               // play --scrub
    // audio and peaks
    std::optional<std::pair<int64_t, int64_t>> samples;  // audio --range START:COUNT
    bool sequential = false;
    std::optional<int64_t> chunk;              // audio --chunk N, sample frames per read
    std::optional<double> peakRate;            // peaks --rate R, points per second
    std::optional<std::filesystem::path> png;  // peaks --png PNG
    std::optional<int32_t> width;              // peaks --width W
    // trim and size: seconds from the clip's start
    std::optional<double> in;        // --in SECONDS
    std::optional<double> duration;  // --dur SECONDS
    bool noAudio = false;            // trim --no-audio
    bool noVideo = false;            // trim --no-video
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
