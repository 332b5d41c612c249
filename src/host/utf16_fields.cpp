#include "host/utf16_fields.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"

namespace kestrova::host {

namespace {

// Longest path the host can hand over; a missing terminator stops here.
constexpr std::size_t kMaxPathUnits = 32767;

}  // namespace

std::string readUtf16Path(const char16_t* path) {
    if (!path) {
        return {};
    }
    std::size_t length = 0;
    while (length < kMaxPathUnits && path[length] != u'\0') {
        ++length;
    }
    if (length == kMaxPathUnits) {
        return {};
    }
    return platform::utf16ToUtf8(std::u16string_view(path, length)).value_or(std::string());
}

void writeUtf16Field(void* record, std::size_t offset, std::size_t units, const std::string& text) {
    if (units == 0) {
        return;
    }
    const std::u16string wide = platform::utf8ToUtf16(text).value_or(std::u16string());
    std::size_t count = std::min(wide.size(), units - 1);
    // A cut between the halves of a surrogate pair would leave invalid text.
    if (count > 0 && wide[count - 1] >= 0xD800 && wide[count - 1] <= 0xDBFF) {
        --count;
    }
    auto* field = static_cast<unsigned char*>(record) + offset;
    std::memcpy(field, wide.data(), count * sizeof(char16_t));
    const char16_t terminator = 0;
    std::memcpy(field + count * sizeof(char16_t), &terminator, sizeof terminator);
}

}  // namespace kestrova::host
