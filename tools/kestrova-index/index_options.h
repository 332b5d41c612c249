// The command line of kestrova-index.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::indextool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

struct IndexOptions {
    std::string media;
    std::optional<int32_t> stream;  // the container's stream number
    std::optional<std::string> out;
    bool help = false;
};

// Options as "--name value" or "--name=value", before or after the file.
// False with `error` set on a usage error.
bool parseIndexOptions(const std::vector<std::string>& words, IndexOptions& out,
                       std::string& error);

extern const char* const kUsage;

}  // namespace kestrova::indextool
