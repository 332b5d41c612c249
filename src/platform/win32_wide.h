// UTF-8 texts of the platform interface as the UTF-16 texts Win32 takes.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace kestrova::platform {

// Empty when the text is not valid UTF-8; callers treat that as a path that
// does not exist, never as a different one.
inline std::wstring widen(std::string_view utf8) {
    const auto wide = utf8ToUtf16(utf8);
    return wide ? std::wstring(wide->begin(), wide->end()) : std::wstring();
}

inline std::string narrow(std::wstring_view wide) {
    const auto utf8 = utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
    return utf8 ? *utf8 : std::string();
}

}  // namespace kestrova::platform
