#include "host/utf16_fields.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace kestrova::host {
namespace {

TEST(Utf16FieldsTest, CutTextEndsOnAWholeCharacter) {
    // "ab", U+1F3AC (a surrogate pair in UTF-16), "cd".
    const std::string text =
        "ab\xF0\x9F\x8E\xAC"
        "cd";
    struct Case {
        std::size_t units;
        std::string kept;
    };
    for (const Case& c : {Case{1, ""}, Case{3, "ab"}, Case{4, "ab"}, Case{5, "ab\xF0\x9F\x8E\xAC"},
                          Case{7, text}}) {
        std::array<char16_t, 8> record;
        record.fill(u'#');
        writeUtf16Field(record.data(), 0, c.units, text);
        // The host reads back valid text: the start of what was written.
        EXPECT_EQ(readUtf16Path(record.data()), c.kept) << c.units << " units";
        EXPECT_EQ(record[c.units], u'#') << "written past " << c.units << " units";
    }
}

}  // namespace
}  // namespace kestrova::host
