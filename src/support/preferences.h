// The user's settings from the hand-edited preferences file, read once per
// process, and the helpers that place the plug-in's other per-user files.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>

namespace kestrova {

struct Preferences {
    bool preferOverBuiltIn = false;
    // Not range-checked here: imInit clamps it before handing it to the logger.
    int32_t logLevel = 3;
    // On unless switched off explicitly; the other two are off unless switched on.
    bool enableHardwareDecoding = true;
    bool forceHardwareDecoding = false;
    int32_t frameCacheMiB = 128;

    // The importer priority reported to the host.
    int32_t priority() const { return preferOverBuiltIn ? 100 : 50; }
    bool operator==(const Preferences&) const = default;

    // The process-wide record, loaded from the preferences file on the first
    // call and never re-read.
    static const Preferences& get();
};

// Settings from preferences text: key=value lines over the defaults, each
// malformed line or value skipped on its own.
Preferences parsePreferences(std::istream& in);
Preferences parsePreferences(std::string_view text);
// Settings from the file at `path`; empty when the file cannot be opened.
std::optional<Preferences> readPreferencesFile(const std::string& path);

// "<per-user folder>/Kestrova/<fileName>", or empty when the file name is
// empty or no per-user folder is usable.
std::string appDataFilePath(const char* fileName);
// Creates the one directory level that holds `path`; true when it exists
// afterwards or the path names no directory at all.
bool ensureParentDirectory(const std::string& path);

}  // namespace kestrova
