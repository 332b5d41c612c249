// The hand-edited preferences text. Each line sets its key on its own, so
// reading the text twice in a row must give what reading it once gives.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "support/preferences.h"

using kestrova::fuzz::require;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kestrova::fuzz::silenceLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const kestrova::Preferences once = kestrova::parsePreferences(text);
    require(once.frameCacheMiB >= 16 && once.frameCacheMiB <= 4096,
            "the frame cache size stays within its range");
    const std::string twice = std::string(text) + "\n" + std::string(text);
    require(kestrova::parsePreferences(twice) == once, "settings depend only on the last line");
    return 0;
}
