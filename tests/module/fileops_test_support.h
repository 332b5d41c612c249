// Helpers of the trim and copy tests: the bundled FFmpeg programs, run as
// processes of their own, probe and make media; kestrova-host hashes frames.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "clip_test_support.h"

namespace kestrova::moduletest {

inline const std::filesystem::path kFfprobePath =
    test::buildFolder() / "tools" / (std::string("ffprobe") + kProgramSuffix);
inline const std::filesystem::path kFfmpegPath =
    test::buildFolder() / "tools" / (std::string("ffmpeg") + kProgramSuffix);

// The bundled FFmpeg programs are built for Linux only: the Windows tests
// under Wine have none, and test-windows.sh compares trims with Linux instead.
inline bool ffmpegProgramsPresent() {
    std::error_code ignored;
    return std::filesystem::exists(kFfprobePath, ignored) &&
           std::filesystem::exists(kFfmpegPath, ignored);
}
inline constexpr const char* kNoFfmpegPrograms = "no bundled ffprobe and ffmpeg programs";

inline std::vector<std::string> splitFields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (std::size_t comma; (comma = line.find(',', from)) != std::string::npos; from = comma + 1) {
        fields.push_back(line.substr(from, comma - from));
    }
    fields.push_back(line.substr(from));
    return fields;
}

struct ProbedPacket {
    int stream = -1;
    bool keyframe = false;
    std::string hash;
    bool operator==(const ProbedPacket&) const = default;
};

struct ProbedFile {
    bool ok = false;
    std::vector<std::string> streamTypes;
    std::optional<double> videoStart;
    double duration = 0;
    std::vector<ProbedPacket> packets;  // in file order

    // The packets of one stream, in order.
    std::vector<ProbedPacket> of(int stream) const {
        std::vector<ProbedPacket> picked;
        for (const ProbedPacket& packet : packets) {
            if (packet.stream == stream) {
                picked.push_back(packet);
            }
        }
        return picked;
    }
};

inline ProbedFile probeFile(const std::string& path) {
    ProbedFile file;
    const ToolRun streams =
        runProgram(kFfprobePath, {"-v", "error", "-show_entries",
                                  "stream=index,codec_type,start_time", "-of", "csv=p=0", path});
    const ToolRun format = runProgram(
        kFfprobePath, {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path});
    const ToolRun packets =
        runProgram(kFfprobePath, {"-v", "error", "-show_data_hash", "CRC32", "-show_entries",
                                  "packet=stream_index,flags,data_hash", "-of", "csv=p=0", path});
    if (streams.exitCode != 0 || format.exitCode != 0 || packets.exitCode != 0) {
        return file;
    }
    // MPEG-TS lists its streams once per program and once more on their own.
    for (const std::string& line : lines(streams.out)) {
        const auto fields = splitFields(line);
        if (fields.size() < 3 || std::stoul(fields[0]) != file.streamTypes.size()) {
            continue;
        }
        file.streamTypes.push_back(fields[1]);
        if (fields[1] == "video" && !file.videoStart && fields[2] != "N/A") {
            file.videoStart = std::stod(fields[2]);
        }
    }
    const auto durationLines = lines(format.out);
    file.duration =
        durationLines.empty() || durationLines[0] == "N/A" ? 0 : std::stod(durationLines[0]);
    for (const std::string& line : lines(packets.out)) {
        const auto fields = splitFields(line);
        ProbedPacket packet;
        packet.stream = std::stoi(fields[0]);
        for (const std::string& field : fields) {
            packet.keyframe = packet.keyframe || (!field.empty() && field[0] == 'K');
            if (field.rfind("CRC32:", 0) == 0) {
                packet.hash = field;
            }
        }
        file.packets.push_back(packet);
    }
    file.ok = true;
    return file;
}

// Where `run` stands as one unbroken stretch of `source`; none when it does not.
inline std::optional<std::size_t> findRun(const std::vector<ProbedPacket>& source,
                                          const std::vector<ProbedPacket>& run) {
    if (run.empty() || run.size() > source.size()) {
        return std::nullopt;
    }
    for (std::size_t at = 0; at + run.size() <= source.size(); ++at) {
        if (std::equal(run.begin(), run.end(), source.begin() + static_cast<std::ptrdiff_t>(at))) {
            return at;
        }
    }
    return std::nullopt;
}

// The picture hashes kestrova-host frames gives for frames [from, from + count).
inline std::vector<std::string> frameHashes(const std::string& file, int64_t from, int64_t count) {
    TempFolder appData;
    const ToolRun run =
        runTool({"--appdata", appData.str(), "frames", file, "--range",
                 std::to_string(from) + ":" + std::to_string(from + count), "--hash"});
    std::vector<std::string> hashes;
    for (const std::string& line : lines(run.out)) {
        const auto at = line.find(", hash ");
        if (at != std::string::npos) {
            hashes.push_back(line.substr(at + 7));
        }
    }
    return hashes;
}

// The names of the files in `folder`, sorted: what an operation left there.
inline std::vector<std::string> filesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(platform::utf8FromPath(entry.path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

inline void writeText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace kestrova::moduletest
