// Path texts, the same on every platform but for the separator: Windows
// paths may use either slash, POSIX paths only '/'.
#include "platform/platform.h"

namespace kestrova::platform {

bool isPathSeparator(char c) {
#if defined(_WIN32)
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

std::string joinPath(std::string_view a, std::string_view b) {
    if (a.empty()) {
        return std::string(b);
    }
    if (b.empty()) {
        return std::string(a);
    }
    std::string joined(a);
    const bool aEnds = isPathSeparator(joined.back());
    const bool bStarts = isPathSeparator(b.front());
    if (aEnds && bStarts) {
        b.remove_prefix(1);
    } else if (!aEnds && !bStarts) {
        joined.push_back(kPathSeparator);
    }
    joined.append(b);
    return joined;
}

std::filesystem::path pathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(
        std::u8string_view(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string utf8FromPath(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

}  // namespace kestrova::platform
