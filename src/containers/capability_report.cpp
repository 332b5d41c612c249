#include "containers/capability_report.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <exception>
#include <fstream>
#include <tuple>

#include "containers/format_registry.h"
#include "ffmpeg/ffmpeg_runtime.h"
#include "host/build_identity.h"
#include "platform/platform.h"
#include "support/log_bridge.h"
#include "support/logger.h"
#include "support/preferences.h"
#include "video/hw_devices.h"

namespace kestrova {
namespace {

std::string generatedTime() {
    std::tm utc{};
    if (!platform::utcTime(std::time(nullptr), utc)) {
        return "unknown";
    }
    char text[64];
    if (std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc) == 0) {
        return "unknown";
    }
    return text;
}

std::string libraryVersionLine(const ffmpeg::LibraryVersion& version) {
    char line[160];
    std::snprintf(line, sizeof line, "%s %d.%d.%d (expected major %d)", version.baseName.c_str(),
                  version.major, version.minor, version.micro, version.expectedMajor);
    return line;
}

DecoderRow decoderRow(const ffmpeg::FfmpegFunctions& fn, const AVCodec& codec) {
    DecoderRow row;
    row.decoderName = codec.name;
    const char* codecName = fn.avcodec_get_name(codec.id);
    row.codecName = codecName != nullptr && codecName[0] != '\0' ? codecName : "?";
    row.description = codec.long_name != nullptr ? codec.long_name : "";
    row.hardwareOnly = (codec.capabilities & AV_CODEC_CAP_HARDWARE) != 0;
    for (int i = 0;; ++i) {
        const AVCodecHWConfig* config = fn.avcodec_get_hw_config(&codec, i);
        if (config == nullptr) {
            break;
        }
        if (config->device_type == AV_HWDEVICE_TYPE_NONE) {
            continue;
        }
        const char* typeName = fn.av_hwdevice_get_type_name(config->device_type);
        if (typeName == nullptr ||
            std::find(row.hardwareBackends.begin(), row.hardwareBackends.end(), typeName) !=
                row.hardwareBackends.end()) {
            continue;
        }
        row.hardwareBackends.emplace_back(typeName);
    }
    return row;
}

void gatherDecoders(const ffmpeg::FfmpegFunctions& fn, CapabilityReport& report) {
    void* cursor = nullptr;
    while (const AVCodec* codec = fn.av_codec_iterate(&cursor)) {
        if (fn.av_codec_is_decoder(codec) == 0 || codec->name == nullptr) {
            continue;
        }
        switch (codec->type) {
            case AVMEDIA_TYPE_VIDEO:
                report.videoDecoders.push_back(decoderRow(fn, *codec));
                break;
            case AVMEDIA_TYPE_AUDIO:
                report.audioDecoders.push_back(decoderRow(fn, *codec));
                break;
            case AVMEDIA_TYPE_SUBTITLE:
                report.subtitleDecoders.push_back(decoderRow(fn, *codec));
                break;
            default:
                break;
        }
    }
    sortDecoderRows(report.videoDecoders);
    sortDecoderRows(report.audioDecoders);
    sortDecoderRows(report.subtitleDecoders);
}

// Whether this FFmpeg build has the backend. Looking the name up is no test:
// FFmpeg knows every backend's name, built in or not.
bool compiledIn(const ffmpeg::FfmpegFunctions& fn, AVHWDeviceType type) {
    for (AVHWDeviceType built = fn.av_hwdevice_iterate_types(AV_HWDEVICE_TYPE_NONE);
         built != AV_HWDEVICE_TYPE_NONE; built = fn.av_hwdevice_iterate_types(built)) {
        if (built == type) {
            return true;
        }
    }
    return false;
}

// Opens each device once; returns FFmpeg's type names of those that opened.
std::vector<std::string> gatherBackends(const ffmpeg::FfmpegRuntime& runtime,
                                        CapabilityReport& report) {
    const ffmpeg::FfmpegFunctions& fn = runtime.fn();
    std::vector<std::string> usableTypes;
    // Probing absent GPUs makes FFmpeg log errors that are expected here.
    DiagnosticDemotionScope demotion;
    for (const HwDeviceCandidate& candidate : kHwDeviceCandidates) {
        BackendRow row;
        row.name = candidate.name != nullptr ? candidate.name : "?";
        const char* typeName = fn.av_hwdevice_get_type_name(candidate.type);
        if (typeName == nullptr || !compiledIn(fn, candidate.type)) {
            row.detail = "not compiled into this FFmpeg";
        } else {
            row.compiledIn = true;
            AVBufferRef* device = nullptr;
            const int result =
                fn.av_hwdevice_ctx_create(&device, candidate.type, nullptr, nullptr, 0);
            if (result >= 0 && device != nullptr) {
                row.usable = true;
                usableTypes.emplace_back(typeName);
            } else {
                row.detail = "no device: " + avErrorText(runtime, result);
            }
            fn.av_buffer_unref(&device);
        }
        report.backends.push_back(std::move(row));
    }
    return usableTypes;
}

void gatherContainers(const ffmpeg::FfmpegRuntime& runtime, CapabilityReport& report) {
    const FormatFamilyBuild build = buildFormatFamilies(listDemuxers(runtime));
    for (const FormatFamily& family : build.families) {
        ContainerRow row{family.displayName, family.name, {}};
        for (const std::string& extension : family.extensions) {
            if (!row.extensions.empty()) {
                row.extensions += ", ";
            }
            row.extensions += extension;
        }
        report.containers.push_back(std::move(row));
    }
    report.demuxersSeen = build.demuxersSeen;
    report.devicesExcluded = build.devicesExcluded;
    report.withoutExtensions = build.withoutExtensions;
}

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) {
        if (!text.empty()) {
            text += ", ";
        }
        text += item;
    }
    return text;
}

std::string cellOrDash(const std::string& text) {
    return text.empty() ? "-" : escapeCell(text);
}

void renderAv1Status(const Av1Status& av1, std::string& out) {
    out += "## AV1 status\n\n";
    if (!av1.anyDecoder) {
        out += "**This FFmpeg has no AV1 decoder at all.** AV1 clips cannot be imported.\n\n";
        return;
    }
    if (av1.softwareDecoder) {
        out +=
            "**OK** - software AV1 decoding is available through `" + av1.softwareDecoderName + "`";
        if (av1.usableGpuPath) {
            out += ", and a usable GPU AV1 path is present as well";
        }
        out += ".\n\n";
        return;
    }
    out +=
        "**Warning - no software AV1 decoder.** This FFmpeg was built without `libdav1d`\n"
        "(and without `libaom-av1`), so the only AV1 decoder present is FFmpeg's built-in\n"
        "`av1`, which is hardware-only and cannot produce frames on its own.\n\n";
    if (av1.usableGpuPath) {
        out +=
            "A usable GPU AV1 backend was found on this machine, so AV1 should still\n"
            "decode - but it will fail on any machine without one.\n\n";
    } else {
        out +=
            "No usable GPU AV1 backend was found either, so **AV1 clips will fail** with\n"
            "`stream is undecodable by this build`. Rebuild the bundled FFmpeg with\n"
            "`--enable-libdav1d`.\n\n";
    }
}

void renderBackends(const std::vector<BackendRow>& backends, std::string& out) {
    out +=
        "## Hardware decode backends\n\n"
        "\"Compiled in\" means this FFmpeg knows the backend. \"Usable\" means a device was\n"
        "successfully created on this machine just now.\n\n"
        "| Backend | Compiled in | Usable here | Detail |\n"
        "|---------|-------------|-------------|--------|\n";
    for (const BackendRow& row : backends) {
        out += "| " + escapeCell(row.name) + " | " + (row.compiledIn ? "yes" : "no") + " | " +
               (row.usable ? "**yes**" : "no") + " | " + cellOrDash(row.detail) + " |\n";
    }
    out += "\n";
}

void renderDecoders(const char* heading, const std::vector<DecoderRow>& rows, bool withKind,
                    std::string& out) {
    out += std::string("## ") + heading + " (" + std::to_string(rows.size()) + ")\n\n";
    if (rows.empty()) {
        out += "_None._\n";
        return;
    }
    if (withKind) {
        out +=
            "| Decoder | Codec | Kind | Hardware backends | Description |\n"
            "|---------|-------|------|-------------------|-------------|\n";
    } else {
        out +=
            "| Decoder | Codec | Description |\n"
            "|---------|-------|-------------|\n";
    }
    for (const DecoderRow& row : rows) {
        out += "| `" + escapeCell(row.decoderName) + "` | " + escapeCell(row.codecName) + " | ";
        if (withKind) {
            out += std::string(row.hardwareOnly ? "GPU only" : "software") + " | " +
                   cellOrDash(joined(row.hardwareBackends)) + " | ";
        }
        out += escapeCell(row.description) + " |\n";
    }
}

void renderContainers(const CapabilityReport& report, std::string& out) {
    out += "## Container formats offered to Premiere (" + std::to_string(report.containers.size()) +
           ")\n\n";
    out += "Derived from this FFmpeg's demuxer list. " + std::to_string(report.demuxersSeen) +
           " demuxers were seen; " + std::to_string(report.devicesExcluded) +
           " capture devices and " + std::to_string(report.withoutExtensions) +
           " demuxers with no file extension were excluded.\n\n";
    out +=
        "| Format | Demuxer | Extensions |\n"
        "|--------|---------|------------|\n";
    for (const ContainerRow& row : report.containers) {
        out += "| " + escapeCell(row.displayName) + " | `" + escapeCell(row.demuxerName) + "` | " +
               cellOrDash(row.extensions) + " |\n";
    }
}

std::string writeOnce() {
    const std::string path = appDataFilePath("SUPPORTED-CODECS.md");
    if (path.empty()) {
        Logger::log(LogLevel::Debug, "capability report: no per-user cache location; not written");
        return {};
    }
    if (!ensureParentDirectory(path)) {
        Logger::log(LogLevel::Debug, "capability report: cannot create the directory for %s",
                    path.c_str());
        return {};
    }
    const ffmpeg::FfmpegRuntime& runtime = ffmpeg::FfmpegRuntime::instance();
    if (!runtime.available()) {
        // imInit never asks without FFmpeg; a later caller might.
        Logger::log(LogLevel::Warning, "capability report: not generated (FFmpeg unavailable)");
        return {};
    }
    std::string text;
    try {
        text = renderCapabilityReport(gatherCapabilityReport(runtime));
    } catch (const std::exception& error) {
        Logger::log(LogLevel::Warning, "capability report: not generated (%s)", error.what());
        return {};
    } catch (...) {
        Logger::log(LogLevel::Warning, "capability report: not generated (unknown error)");
        return {};
    }
    // Binary, so the line feeds reach the file unchanged on every platform.
    std::ofstream file(platform::pathFromUtf8(path), std::ios::binary | std::ios::trunc);
    if (!file) {
        Logger::log(LogLevel::Debug, "capability report: cannot write %s", path.c_str());
        return {};
    }
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    file.flush();
    if (!file) {
        Logger::log(LogLevel::Debug, "capability report: write to %s failed", path.c_str());
        return {};
    }
    Logger::log(LogLevel::Info, "supported-format report written to %s", path.c_str());
    return path;
}

}  // namespace

std::string escapeCell(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        if (c == '|') {
            escaped += "\\|";
        } else if (c == '\n' || c == '\r') {
            escaped += ' ';
        } else {
            escaped += c;
        }
    }
    return escaped;
}

void sortDecoderRows(std::vector<DecoderRow>& rows) {
    // std::string compares as unsigned bytes, which is the order wanted.
    std::sort(rows.begin(), rows.end(), [](const DecoderRow& a, const DecoderRow& b) {
        return std::tie(a.codecName, a.decoderName) < std::tie(b.codecName, b.decoderName);
    });
}

Av1Status evaluateAv1Status(const std::vector<DecoderRow>& sortedVideoDecoders,
                            const std::vector<std::string>& usableDeviceTypes) {
    Av1Status status;
    for (const DecoderRow& row : sortedVideoDecoders) {
        if (row.codecName != "av1") {
            continue;
        }
        status.anyDecoder = true;
        if (row.decoderName == "libdav1d" || row.decoderName == "libaom-av1") {
            status.softwareDecoder = true;
            status.softwareDecoderName = row.decoderName;
        }
        for (const std::string& backend : row.hardwareBackends) {
            if (std::find(usableDeviceTypes.begin(), usableDeviceTypes.end(), backend) !=
                usableDeviceTypes.end()) {
                status.usableGpuPath = true;
            }
        }
    }
    return status;
}

CapabilityReport gatherCapabilityReport(const ffmpeg::FfmpegRuntime& runtime) {
    CapabilityReport report;
    report.generated = generatedTime();
    report.version = kVersion;
    report.platform = kPlatform;
    report.ffmpegDirectory = runtime.directory;
    report.licence = runtime.licence;
    report.configuration = runtime.configuration;
    for (const ffmpeg::LibraryVersion& version : runtime.versions) {
        report.libraryVersions.push_back(libraryVersionLine(version));
    }
    gatherDecoders(runtime.fn(), report);
    const std::vector<std::string> usableTypes = gatherBackends(runtime, report);
    report.av1 = evaluateAv1Status(report.videoDecoders, usableTypes);
    gatherContainers(runtime, report);
    return report;
}

std::string renderCapabilityReport(const CapabilityReport& report) {
    std::string out;
    out +=
        "# Kestrova - supported formats on this system\n\n"
        "This file is generated by the Kestrova Premiere Pro importer every time it starts.\n"
        "It lists what the FFmpeg libraries **on this machine** can decode and which GPU\n"
        "decode backends are actually usable here. It is regenerated automatically, so any\n"
        "edits are lost; delete it freely.\n\n"
        "Attach this file to a support report when a clip will not import.\n\n";
    out += "| | |\n|---|---|\n";
    out += "| Generated | " + escapeCell(report.generated) + " |\n";
    out +=
        "| Plug-in | " + escapeCell(report.version) + " (" + escapeCell(report.platform) + ") |\n";
    out += "| FFmpeg directory | `" + escapeCell(report.ffmpegDirectory) + "` |\n";
    out += "| FFmpeg licence | " + escapeCell(report.licence) + " |\n\n";
    renderAv1Status(report.av1, out);
    renderBackends(report.backends, out);
    renderDecoders("Video decoders", report.videoDecoders, true, out);
    out += "\n";
    renderDecoders("Audio decoders", report.audioDecoders, false, out);
    out += "\n";
    renderDecoders("Subtitle and caption decoders", report.subtitleDecoders, false, out);
    out += "\n";
    renderContainers(report, out);
    out += "\n## FFmpeg build details\n\n### Library versions\n\n";
    for (const std::string& line : report.libraryVersions) {
        out += "- " + line + "\n";
    }
    out += "\n### Configuration\n\n```\n" + report.configuration + "\n```\n";
    return out;
}

std::string writeCapabilityReport() {
    static const std::string path = writeOnce();
    return path;
}

}  // namespace kestrova
