// Writing 8-bit RGB pictures as PNG files.
#pragma once

#include <filesystem>
#include <string>

#include "picture_view.h"

namespace kestrova::cli {

// False with `error` set when the file cannot be written.
bool writePng(const std::filesystem::path& path, const hostsim::RgbImage& image,
              std::string& error);

}  // namespace kestrova::cli
