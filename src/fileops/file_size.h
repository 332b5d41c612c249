// A file's size as it is now, with the system's reason when it cannot be read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestrova::fileops {

std::optional<uint64_t> currentFileSize(const std::string& path, std::string* reason = nullptr);

}  // namespace kestrova::fileops
