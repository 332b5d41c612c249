#include "video/verdict_cache.h"

#include <fstream>
#include <locale>
#include <sstream>

#include "host/build_identity.h"
#include "platform/platform.h"
#include "support/file_replace.h"
#include "support/logger.h"
#include "support/preferences.h"

namespace kestrova {
namespace {

constexpr int kFormatNumber = 1;

std::istream& readLine(std::istream& in, std::string& line) {
    if (std::getline(in, line) && !line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return in;
}

// A verdict line: codec id, width, height, useHardware, device type,
// software ms, chosen ms.
std::optional<std::pair<VerdictKey, DecoderVerdict>> parseVerdictLine(const std::string& line,
                                                                      DeviceNameLookup deviceName) {
    std::istringstream fields(line);
    fields.imbue(std::locale::classic());
    VerdictKey key;
    int32_t useHardware = 0;
    DecoderVerdict verdict;
    if (!(fields >> key.codecId >> key.width >> key.height >> useHardware >> verdict.deviceType >>
          verdict.softwareMsPerFrame >> verdict.chosenMsPerFrame)) {
        return std::nullopt;
    }
    const char* name = useHardware != 0 ? deviceName(verdict.deviceType) : nullptr;
    verdict.useHardware = name != nullptr;
    verdict.deviceName = name != nullptr ? name : "software";
    if (!verdict.useHardware) {
        verdict.deviceType = 0;
    }
    verdict.measured = true;
    return std::pair{key, verdict};
}

}  // namespace

std::string verdictIdentityLine(bool forceHardware, const std::string& ffmpegFingerprint) {
    std::ostringstream line;
    line << kFormatNumber << ' ' << kVersion << ' ' << kPlatform << ' '
         << (forceHardware ? "forcehw" : "autohw") << ' ' << ffmpegFingerprint;
    return line.str();
}

int32_t readVerdicts(std::istream& in, const std::string& identity, DeviceNameLookup deviceName,
                     VerdictTable& table, const std::string& pathText) {
    std::string line;
    if (!readLine(in, line)) {
        return 0;
    }
    if (line != identity) {
        Logger::log(LogLevel::Info,
                    "decoder selection: discarding %s -- it was written by a different plug-in or "
                    "FFmpeg build, so every verdict in it has to be re-measured",
                    pathText.c_str());
        return 0;
    }
    int32_t count = 0;
    while (readLine(in, line)) {
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (auto parsed = parseVerdictLine(line, deviceName)) {
            table[parsed->first] = parsed->second;
            ++count;
        }
    }
    if (count > 0) {
        Logger::log(LogLevel::Info,
                    "decoder selection: loaded %d measured verdict(s) from %s -- no examination "
                    "needed for those codec/geometry combinations",
                    count, pathText.c_str());
    }
    return count;
}

void writeVerdicts(std::ostream& out, const std::string& identity, const VerdictTable& table) {
    out.imbue(std::locale::classic());
    out << identity << '\n'
        << "# Measured decoder verdicts. Delete this file to force re-measurement.\n"
        << "# codecId width height useHardware deviceType softwareMsPerFrame chosenMsPerFrame\n";
    for (const auto& [key, verdict] : table) {
        if (!verdict.measured) {
            continue;
        }
        out << key.codecId << ' ' << key.width << ' ' << key.height << ' '
            << (verdict.useHardware ? 1 : 0) << ' ' << verdict.deviceType << ' '
            << verdict.softwareMsPerFrame << ' ' << verdict.chosenMsPerFrame << '\n';
    }
}

VerdictCache::VerdictCache(std::string path, std::string identity, DeviceNameLookup deviceName)
    : path_(std::move(path)), identity_(std::move(identity)), deviceName_(deviceName) {}

std::optional<DecoderVerdict> VerdictCache::find(const VerdictKey& key) {
    const std::lock_guard lock(mutex_);
    loadOnce();
    const auto found = table_.find(key);
    if (found == table_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void VerdictCache::store(const VerdictKey& key, const DecoderVerdict& verdict) {
    const std::lock_guard lock(mutex_);
    loadOnce();
    table_[key] = verdict;
    save();
}

void VerdictCache::loadOnce() {
    if (loaded_) {
        return;
    }
    loaded_ = true;
    if (path_.empty()) {
        return;
    }
    std::ifstream in(platform::pathFromUtf8(path_), std::ios::binary);
    if (in.is_open()) {
        readVerdicts(in, identity_, deviceName_, table_, path_);
    }
}

void VerdictCache::save() const {
    if (path_.empty()) {
        return;
    }
    const bool written =
        ensureParentDirectory(path_) &&
        writeFileReplacing(platform::pathFromUtf8(path_), [this](std::ostream& out) {
            writeVerdicts(out, identity_, table_);
            return out.good();
        }) == FileReplaceResult::Written;
    if (!written) {
        Logger::log(LogLevel::Debug,
                    "decoder selection: cannot write %s, verdicts stay in memory only",
                    path_.c_str());
    }
}

}  // namespace kestrova
