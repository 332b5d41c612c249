#include "host/open_rules.h"

#include <algorithm>
#include <array>
#include <string>

#include "support/ascii_text.h"

namespace kestrova::host {

bool isIsoMediaExtension(std::string_view path) {
    static constexpr std::array<std::string_view, 8> kIso = {"mov", "mp4", "m4v", "m4a",
                                                             "3gp", "3g2", "mj2", "qt"};
    const std::string extension = lowerExtension(path);
    return !extension.empty() && std::find(kIso.begin(), kIso.end(), extension) != kIso.end();
}

bool isNativeContainer(std::string_view formatName) {
    return formatName == "mov,mp4,m4a,3gp,3g2,mj2" || formatName == "mov" || formatName == "mp4";
}

bool isOpenCodec(int32_t codecId) {
    static constexpr std::array<int32_t, 5> kOpen = {33, 30, 139, 166, 222};
    return std::find(kOpen.begin(), kOpen.end(), codecId) != kOpen.end();
}

bool anyOpenCodec(const std::vector<int32_t>& codecIds) {
    return std::any_of(codecIds.begin(), codecIds.end(), isOpenCodec);
}

}  // namespace kestrova::host
