// Checks that a library file is a 64-bit x86 image before it is loaded, so a
// build for another processor is reported by name rather than as a loader error.
#pragma once

#include <istream>
#include <string>

namespace kestrova::ffmpeg {

// A PE image ("MZ", PE header at the offset stored at 60) whose COFF machine
// field is x86-64 (0x8664).
bool isX64PeImage(const std::string& path);
bool isX64PeImage(std::istream& image);
// A 64-bit little-endian ELF image whose e_machine is x86-64 (62).
bool isX64ElfImage(const std::string& path);
bool isX64ElfImage(std::istream& image);
// The check for this platform's own image format. Unreadable or short files
// are never accepted.
bool isX64Image(const std::string& path);

}  // namespace kestrova::ffmpeg
