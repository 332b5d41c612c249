// ASCII-only case folding for names FFmpeg and file systems hand us.
#pragma once

#include <string>
#include <string_view>

namespace kestrova {

// `text` with A-Z lowered; other bytes, UTF-8 included, unchanged.
std::string asciiLower(std::string_view text);
// The text after the last "." of `path`, lowered; empty when there is none.
std::string lowerExtension(std::string_view path);

}  // namespace kestrova
