#include "support/append_format.h"

#include <cstdarg>
#include <cstdio>

namespace kestrova {

void appendFormat(std::string& text, const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length > 0) {
        const std::size_t start = text.size();
        text.resize(start + static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data() + start, static_cast<std::size_t>(length) + 1, format, args);
        text.resize(start + static_cast<std::size_t>(length));
    }
    va_end(args);
}

}  // namespace kestrova
