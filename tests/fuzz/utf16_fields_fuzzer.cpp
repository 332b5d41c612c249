// The host's UTF-16 record fields: paths read from the host, texts written
// back into fixed-size fields. The first input byte sizes the field, the
// second places it in the record, the rest is the text, read once as UTF-16
// and once as UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "host/utf16_fields.h"
#include "platform/platform.h"

namespace {

using kestrova::fuzz::require;

// A path the host hands over ends at its first zero unit.
void readPath(const uint8_t* data, std::size_t size) {
    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), data, units.size() * sizeof(char16_t));
    units.resize(units.find(u'\0') == std::u16string::npos ? units.size() : units.find(u'\0'));
    const std::string path = kestrova::host::readUtf16Path(units.c_str());
    if (!path.empty()) {
        require(kestrova::platform::utf8ToUtf16(path) == units, "a path reads back unchanged");
    } else {
        require(units.empty() || !kestrova::platform::utf16ToUtf8(units),
                "only invalid text reads as no path");
    }
}

void writeField(std::size_t units, std::size_t offset, const std::string& text) {
    // Exactly the record's bytes, so a write past the field is caught.
    std::vector<unsigned char> record(offset + units * sizeof(char16_t), 0xAA);
    kestrova::host::writeUtf16Field(record.data(), offset, units, text);
    if (units == 0) {
        return;
    }
    std::u16string field(units, u'\0');
    std::memcpy(field.data(), record.data() + offset, units * sizeof(char16_t));
    require(field.find(u'\0') != std::u16string::npos, "the field is terminated");
    const std::string back = kestrova::host::readUtf16Path(field.c_str());
    require(text.compare(0, back.size(), back) == 0, "the field holds the start of the text");
    // Valid text that starts with a character the field has room for keeps it.
    const auto wide = kestrova::platform::utf8ToUtf16(text);
    if (wide && !wide->empty() && (*wide)[0] != u'\0') {
        const bool pair = (*wide)[0] >= 0xD800 && (*wide)[0] <= 0xDBFF;
        require(!back.empty() || units < (pair ? 3u : 2u), "valid text keeps what fits");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::size_t units = data[0];
    const std::size_t offset = data[1] % 8;
    const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
    readPath(data + 2, size - 2);
    writeField(units, offset, text);
    return 0;
}
