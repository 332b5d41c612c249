#include "host/plugin_lifecycle.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "containers/capability_report.h"
#include "containers/format_registry.h"
#include "ffmpeg/ffmpeg_runtime.h"
#include "host/build_identity.h"
#include "host/clip_prefs.h"
#include "host/host_suites.h"
#include "platform/platform.h"
#include "support/log_bridge.h"
#include "support/logger.h"
#include "support/preferences.h"

namespace kestrova::host {
namespace {

constexpr const char16_t kAcceleratorExtensionText[] = u"kstidx";

void checkArchitecture() {
    const std::string hostArchitecture = platform::nativeArchitecture();
    if (hostArchitecture == kModuleArchitecture) {
        Logger::log(LogLevel::Debug, "Architecture check passed: module and host are both %s",
                    kModuleArchitecture);
        return;
    }
    Logger::log(LogLevel::Warning,
                "Architecture mismatch: Kestrova module is compiled for %s but the host process is "
                "%s. The plug-in will not function correctly. Please install the matching "
                "architecture slice.",
                kModuleArchitecture, hostArchitecture.c_str());
}

void fillImporterInfo(void* info, int32_t priority) {
    using namespace importinfo;
    for (std::size_t offset : kClearedFlags) {
        writeField<int32_t>(info, offset, 0);
    }
    writeField<int32_t>(info, kPriority, priority);
    writeField<int32_t>(info, kCanCalcSize, 1);
    writeField<int32_t>(info, kCanTrim, 1);
    writeField<int32_t>(info, kAvoidAudioConform, 0);
    if (auto* extension = readField<char16_t*>(info, kAcceleratorExtension)) {
        // The host reads the characters only; no terminating unit is written.
        const std::size_t units =
            std::min<std::size_t>(std::size(kAcceleratorExtensionText) - 1, 255);
        std::memcpy(extension, kAcceleratorExtensionText, units * sizeof(char16_t));
    }
    writeField<int32_t>(info, kCanCopy, 1);
    writeField<int32_t>(info, kCanProvidePeakAudio, 1);
    writeField<int32_t>(info, kCanProvideFileList, 1);
    writeField<int32_t>(info, kCanProvideClosedCaptions, 1);
    writeField<int32_t>(info, kUnalignedFlag, 1);
}

// Copies text into a fixed field, cut to fit, always zero-terminated.
void writeText(void* record, std::size_t offset, std::size_t bytes, const std::string& text) {
    auto* field = static_cast<char*>(record) + offset;
    const std::size_t length = std::min(text.size(), bytes - 1);
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

void writeExtensionList(void* record, const std::vector<std::string>& extensions) {
    using namespace formatdesc;
    auto* list = static_cast<char*>(record) + kExtensions;
    std::memset(list, 0, kExtensionsBytes);
    std::size_t used = 0;
    for (const std::string& extension : extensions) {
        // Keeps room for the list's closing double zero.
        if (used + extension.size() + 2 > kExtensionsBytes) {
            break;
        }
        std::memcpy(list + used, extension.data(), extension.size());
        used += extension.size() + 1;
    }
}

}  // namespace

Result imInitHandler(void* stdParms, void* importInfo) {
    Logger::open(kProductName);
    const Preferences& prefs = Preferences::get();
    Logger::setLevel(std::clamp(prefs.logLevel, 0, 5));
    HostSuites::bind(stdParms);
    const int32_t apiVersion =
        stdParms ? readField<int32_t>(stdParms, stdparms::kInterfaceVersion) : -1;
    Logger::log(LogLevel::Info, "Kestrova %s (%s) imInit, host importer API version %d", kVersion,
                kPlatform, apiVersion);
    checkArchitecture();

    const auto& runtime = ffmpeg::FfmpegRuntime::instance();
    if (!runtime.available()) {
        Logger::log(LogLevel::Error, "FFmpeg unavailable (%s): %s",
                    ffmpeg::statusName(runtime.loadStatus), runtime.loadMessage.c_str());
        for (const std::string& directory : runtime.examinedDirectories) {
            Logger::log(LogLevel::Debug, "  examined: %s", directory.c_str());
        }
        return imFailure;
    }
    installLogBridge();
    if (!importInfo) {
        return imFailure;
    }
    const int32_t priority = prefs.priority();
    fillImporterInfo(importInfo, priority);
    if (Logger::enabled(LogLevel::Info)) {
        Logger::log(LogLevel::Info, "imInit ok: %zu container families, priority %d",
                    FormatRegistry::instance().size(), priority);
    }
    writeCapabilityReport();
    Logger::log(LogLevel::Info,
                "imInit audio capabilities: avoidAudioConform=%d canProvidePeakAudio=%d "
                "canProvideClosedCaptions=%d",
                0, 1, 1);
    return imInitOk;
}

Result imShutdownHandler() {
    Logger::log(LogLevel::Info, "imShutdown");
    uninstallLogBridge();
    HostSuites::release();
    Logger::close();
    return imNoErr;
}

Result imGetIndFormatHandler(int32_t index, void* formatDesc) {
    if (!formatDesc) {
        return imFailure;
    }
    const FormatRegistry& registry = FormatRegistry::instance();
    if (index < 0 || static_cast<std::size_t>(index) >= registry.size()) {
        return imBadFormatIndex;
    }
    const FormatFamily& family = registry.family(static_cast<std::size_t>(index));
    using namespace formatdesc;
    writeField<uint32_t>(formatDesc, kFileType, family.typeCode);
    for (std::size_t offset : kClearedFields) {
        writeField<int32_t>(formatDesc, offset, 0);
    }
    writeText(formatDesc, kFormatName, kFormatNameBytes, family.displayName + " (Kestrova)");
    writeText(formatDesc, kShortName, kShortNameBytes, family.shortName);
    writeExtensionList(formatDesc, family.extensions);
    return imNoErr;
}

Result imGetPrefs8Handler(void* /*fileAccess*/, void* prefsRecord) {
    using namespace prefsrec;
    if (!prefsRecord) {
        return imFailure;
    }
    void* buffer = readField<void*>(prefsRecord, kBuffer);
    if (!buffer) {
        writeField<int32_t>(prefsRecord, kLength, kClipPrefsBytes);
        return imNoErr;
    }
    if (readField<int32_t>(prefsRecord, kLength) < kClipPrefsBytes) {
        writeField<int32_t>(prefsRecord, kLength, kClipPrefsBytes);
        return imFailure;
    }
    if (readField<uint8_t>(prefsRecord, kFirstTime) != 0) {
        ClipPrefs::defaults().write(buffer);
        Logger::log(LogLevel::Debug, "imGetPrefs8: first time, wrote default clip prefs (%d bytes)",
                    kClipPrefsBytes);
        return imNoErr;
    }
    if (ClipPrefs::read(buffer).fields[ClipPrefs::kVersion] != ClipPrefs::kCurrentVersion) {
        ClipPrefs::defaults().write(buffer);
        Logger::log(LogLevel::Warning,
                    "imGetPrefs8: unrecognised prefs version, reset to defaults");
    }
    return imNoErr;
}

}  // namespace kestrova::host
