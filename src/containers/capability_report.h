// SUPPORTED-CODECS.md: what the loaded FFmpeg can decode on this machine,
// written for users and support at every start. Nothing reads it back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

namespace ffmpeg {
class FfmpegRuntime;
}

struct BackendRow {
    std::string name;
    bool compiledIn = false;
    bool usable = false;
    std::string detail;
};

struct DecoderRow {
    std::string decoderName;
    std::string codecName;
    std::string description;
    bool hardwareOnly = false;
    // FFmpeg's device type names, each once, in the decoder's order.
    std::vector<std::string> hardwareBackends;
};

struct Av1Status {
    bool anyDecoder = false;
    bool softwareDecoder = false;
    std::string softwareDecoderName;
    bool usableGpuPath = false;
};

struct ContainerRow {
    std::string displayName;
    std::string demuxerName;
    std::string extensions;
};

struct CapabilityReport {
    std::string generated;
    std::string version;
    std::string platform;
    std::string ffmpegDirectory;
    std::string licence;
    std::string configuration;
    std::vector<std::string> libraryVersions;
    std::vector<BackendRow> backends;
    std::vector<DecoderRow> videoDecoders;
    std::vector<DecoderRow> audioDecoders;
    std::vector<DecoderRow> subtitleDecoders;
    Av1Status av1;
    std::vector<ContainerRow> containers;
    int32_t demuxersSeen = 0;
    int32_t devicesExcluded = 0;
    int32_t withoutExtensions = 0;
};

// Makes a value safe for one Markdown table cell.
[[nodiscard]] std::string escapeCell(std::string_view text);

// Orders a decoder list by codec name, then decoder name, byte-wise.
void sortDecoderRows(std::vector<DecoderRow>& rows);

// AV1 support judged from the sorted video decoders and the FFmpeg device
// type names of the backends that could be opened here.
[[nodiscard]] Av1Status evaluateAv1Status(const std::vector<DecoderRow>& sortedVideoDecoders,
                                          const std::vector<std::string>& usableDeviceTypes);

// Asks the runtime (which must be available) and this machine's devices.
[[nodiscard]] CapabilityReport gatherCapabilityReport(const ffmpeg::FfmpegRuntime& runtime);

// The Markdown text of a report.
[[nodiscard]] std::string renderCapabilityReport(const CapabilityReport& report);

// Writes the report once per process; the path written, or empty.
std::string writeCapabilityReport();

}  // namespace kestrova
