// Measured decoder verdicts kept for the process and in a small text file, so
// that an examination runs once per machine, plug-in build, FFmpeg build and
// force setting.
#pragma once

#include <istream>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "video/decoder_verdict.h"

namespace kestrova {

inline constexpr const char* kVerdictCacheFileName = "decoder-choice.cache";

using VerdictTable = std::map<VerdictKey, DecoderVerdict>;
// The name of a GPU device type the plug-in can use, or null for any other.
using DeviceNameLookup = const char* (*)(int32_t deviceType);

// The first line of the file: a file whose first line differs was written by
// another build or setting and is discarded as a whole.
std::string verdictIdentityLine(bool forceHardware, const std::string& ffmpegFingerprint);

// Adds the verdicts of a file's text to `table` and returns how many were
// read; `pathText` names the file in log lines. A trailing "\r" ends no line.
int32_t readVerdicts(std::istream& in, const std::string& identity, DeviceNameLookup deviceName,
                     VerdictTable& table, const std::string& pathText);
// The whole file: identity, two comment lines, then the measured verdicts.
void writeVerdicts(std::ostream& out, const std::string& identity, const VerdictTable& table);

// The process's verdicts, loaded from `path` on first use and written back
// whole after every store. An empty path keeps them in memory only.
class VerdictCache {
  public:
    VerdictCache(std::string path, std::string identity, DeviceNameLookup deviceName);

    std::optional<DecoderVerdict> find(const VerdictKey& key);
    // Replaces any verdict for the key; only measured verdicts reach the file.
    void store(const VerdictKey& key, const DecoderVerdict& verdict);

  private:
    void loadOnce();
    void save() const;

    std::mutex mutex_;
    const std::string path_;
    const std::string identity_;
    const DeviceNameLookup deviceName_;
    bool loaded_ = false;
    VerdictTable table_;
};

}  // namespace kestrova
