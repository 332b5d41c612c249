// printf-style formatting appended to a string, of any length.
#pragma once

#include <string>

#include "support/logger.h"

namespace kestrova {

void appendFormat(std::string& text, const char* format, ...)
    __attribute__((format(KESTROVA_PRINTF, 2, 3)));

}  // namespace kestrova
