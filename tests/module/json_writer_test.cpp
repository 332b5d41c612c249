// The JSON writer of kestrova-host: structure and string escaping.
#include "json_writer.h"

#include <gtest/gtest.h>

namespace kestrova::cli {
namespace {

TEST(JsonWriterTest, SeparatesMembersAndElements) {
    JsonWriter json;
    json.beginArray();
    json.beginObject().key("a").value(int64_t{1}).key("b").beginArray().value("x").value("y");
    json.endArray().endObject();
    json.beginObject().endObject().value(int64_t{-2});
    json.endArray();
    EXPECT_EQ(json.text(), R"([{"a":1,"b":["x","y"]},{},-2])");
}

TEST(JsonWriterTest, QuoteEscapesControlsAndReplacesInvalidUtf8) {
    const std::pair<std::string, std::string> cases[] = {
        {"a\"b\\c", R"("a\"b\\c")"},
        {"\n\r\t\b\f", R"("\n\r\t\b\f")"},
        {std::string("\x01\x1f\x7f", 3), R"("\u0001\u001f\u007f")"},
        {std::string("nul\0end", 7), R"("nul\u0000end")"},
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xAC", "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xAC\""},
        // Stray, overlong, surrogate and truncated sequences.
        {"a\x80z", R"("a\ufffdz")"},
        {"\xC0\xAF", R"("\ufffd\ufffd")"},
        {"\xED\xA0\x80", R"("\ufffd\ufffd\ufffd")"},
        {"\xE2\x82", R"("\ufffd\ufffd")"},
    };
    for (const auto& [text, quoted] : cases) {
        EXPECT_EQ(JsonWriter::quote(text), quoted);
    }
}

}  // namespace
}  // namespace kestrova::cli
