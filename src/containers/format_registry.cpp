#include "containers/format_registry.h"

#include <array>
#include <set>
#include <string_view>
#include <unordered_set>

#include "ffmpeg/ffmpeg_runtime.h"
#include "support/ascii_text.h"
#include "support/logger.h"

namespace kestrova {
namespace {

// Capture devices, generators, network protocols and playlist readers: none
// of them opens a media file the host could hand us.
// clang-format off
constexpr std::array<std::string_view, 35> kExcludedDemuxers = {
    "image2", "image2pipe", "pipe", "lavfi", "dshow", "vfwcap", "gdigrab", "avfoundation",
    "openal", "oss", "alsa", "pulse", "x11grab", "kmsgrab", "libcdio", "iec61883", "decklink",
    "android_camera", "bktr", "fbdev", "sndio", "jack", "libdc1394", "rtsp", "sdp", "rtp", "srt",
    "libsrt", "librist", "rist", "webm_dash_manifest", "hls", "dash", "sbg", "tedcaptions"};
// clang-format on

struct ExtensionOverride {
    std::string_view demuxer;
    const char* extensions;
};

// Demuxers that probe by content and so declare no extensions, although
// editors receive their files under well-known ones.
constexpr std::array<ExtensionOverride, 9> kExtensionOverrides = {{
    {"mxf", "mxf"},
    {"mpegts", "ts,m2t,m2ts,mts,tsv,tsa"},
    {"gxf", "gxf"},
    {"mpeg", "mpg,mpeg,vob,m2p,ps"},
    {"dnxhd", "dnxhd,dnxhr"},
    {"h264", "h264,264"},
    {"hevc", "hevc,265,h265"},
    {"vc1", "vc1"},
    {"obu", "obu"},
}};

constexpr std::string_view kTypeCodeAlphabet =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int kTypeCodeAttempts = 4096;
constexpr std::size_t kShortNameMax = 31;

const char* overrideExtensions(std::string_view name) {
    for (const ExtensionOverride& entry : kExtensionOverrides) {
        if (entry.demuxer == name) {
            return entry.extensions;
        }
    }
    return nullptr;
}

bool isExcluded(std::string_view name) {
    for (std::string_view excluded : kExcludedDemuxers) {
        if (excluded == name) {
            return true;
        }
    }
    return name.ends_with("_pipe") || name.ends_with("_dash_manifest");
}

// Splits at commas, dropping empty pieces. Blanks are kept as they are: the
// host matches extensions literally.
std::vector<std::string> splitExtensions(std::string_view text) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(',', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        if (end > start) {
            pieces.push_back(asciiLower(text.substr(start, end - start)));
        }
        start = end + 1;
    }
    return pieces;
}

uint32_t typeCodeFor(std::string_view name, std::unordered_set<uint32_t>& usedCodes) {
    uint64_t h = 0x14650FB0739D0383ULL;
    for (char c : name) {
        h = (h ^ static_cast<unsigned char>(c)) * 0x100000001B3ULL;
    }
    const auto letter = [](uint64_t x, int shift) {
        return static_cast<uint32_t>(
            static_cast<unsigned char>(kTypeCodeAlphabet[(x >> shift) % kTypeCodeAlphabet.size()]));
    };
    for (int i = 0; i < kTypeCodeAttempts; ++i) {
        const uint64_t x = h + static_cast<uint64_t>(i) * 0x9E3779B97F4A7C15ULL;
        const uint32_t code =
            (0x4Bu << 24) | (letter(x, 40) << 16) | (letter(x, 24) << 8) | letter(x, 8);
        if (usedCodes.insert(code).second) {
            return code;
        }
    }
    return 0;
}

std::string uniqueDisplayName(const DemuxerInfo& demuxer, const std::string& firstExtension,
                              std::set<std::string>& usedNames) {
    std::string display = demuxer.longName != nullptr && demuxer.longName[0] != '\0'
                              ? demuxer.longName
                              : demuxer.name;
    if (usedNames.insert(display).second) {
        return display;
    }
    display += " [";
    display += demuxer.name;
    display += "]";
    if (usedNames.insert(display).second) {
        return display;
    }
    display += " .";
    display += firstExtension;
    usedNames.insert(display);
    return display;
}

FormatFamilyBuild buildFromRuntime() {
    const ffmpeg::FfmpegRuntime& runtime = ffmpeg::FfmpegRuntime::instance();
    if (!runtime.available()) {
        Logger::log(LogLevel::Warning, "format registry: FFmpeg unavailable, registry is empty");
        return {};
    }
    FormatFamilyBuild build = buildFormatFamilies(listDemuxers(runtime));
    Logger::log(LogLevel::Info,
                "format registry: %zu families from %d demuxers (%d devices, %d without "
                "extensions excluded)",
                build.families.size(), build.demuxersSeen, build.devicesExcluded,
                build.withoutExtensions);
    return build;
}

}  // namespace

FormatFamilyBuild buildFormatFamilies(const std::vector<DemuxerInfo>& demuxers) {
    FormatFamilyBuild build;
    std::set<std::string> claimedExtensions;
    std::set<std::string> usedNames;
    std::unordered_set<uint32_t> usedCodes;
    for (const DemuxerInfo& demuxer : demuxers) {
        ++build.demuxersSeen;
        if (demuxer.name == nullptr) {
            continue;
        }
        if (demuxer.noFile) {
            ++build.devicesExcluded;
            continue;
        }
        const std::string_view name = demuxer.name;
        const bool ownExtensions = demuxer.extensions != nullptr && demuxer.extensions[0] != '\0';
        const char* extensionText = ownExtensions ? demuxer.extensions : overrideExtensions(name);
        if (extensionText == nullptr) {
            ++build.withoutExtensions;
            continue;
        }
        if (isExcluded(name)) {
            continue;
        }
        std::vector<std::string> kept;
        for (std::string& piece : splitExtensions(extensionText)) {
            if (claimedExtensions.insert(piece).second) {
                kept.push_back(std::move(piece));
            }
        }
        if (kept.empty()) {
            continue;
        }
        FormatFamily family;
        family.name = demuxer.name;
        family.displayName = uniqueDisplayName(demuxer, kept.front(), usedNames);
        family.shortName = family.displayName.substr(0, kShortNameMax);
        family.typeCode = typeCodeFor(name, usedCodes);
        family.extensions = std::move(kept);
        family.mimeType = demuxer.mimeType != nullptr ? demuxer.mimeType : "";
        family.extensionsFromOverride = !ownExtensions;
        build.families.push_back(std::move(family));
    }
    return build;
}

std::vector<DemuxerInfo> listDemuxers(const ffmpeg::FfmpegRuntime& runtime) {
    std::vector<DemuxerInfo> demuxers;
    void* cursor = nullptr;
    while (const AVInputFormat* format = runtime.fn().av_demuxer_iterate(&cursor)) {
        demuxers.push_back(DemuxerInfo{format->name, format->long_name,
                                       (format->flags & AVFMT_NOFILE) != 0, format->extensions,
                                       format->mime_type});
    }
    return demuxers;
}

const FormatRegistry& FormatRegistry::instance() {
    // Never destroyed, like the runtime it is built from: a host thread may
    // still be inside a selector while the process exits.
    static const FormatRegistry* const registry = new FormatRegistry(buildFromRuntime());
    return *registry;
}

}  // namespace kestrova
