// printf-style formatting appended to a string, of any length.
#pragma once

#include <string>

namespace kestrova {

[[gnu::format(printf, 2, 3)]] void appendFormat(std::string& text, const char* format, ...);

}  // namespace kestrova
