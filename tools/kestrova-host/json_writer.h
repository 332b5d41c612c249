// A minimal JSON writer: values appended in order, commas and escaping handled.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::cli {

class JsonWriter {
  public:
    JsonWriter& beginArray();
    JsonWriter& endArray();
    JsonWriter& beginObject();
    JsonWriter& endObject();
    // The name of the next member of the current object.
    JsonWriter& key(std::string_view name);
    JsonWriter& value(std::string_view text);
    JsonWriter& value(const char* text) { return value(std::string_view(text)); }
    JsonWriter& value(int64_t number);
    // Named apart from value(): an integer argument would convert to either.
    JsonWriter& boolean(bool flag);
    // Finite numbers with up to `decimals` fraction digits; others as null.
    JsonWriter& number(double number, int decimals);

    const std::string& text() const { return out_; }

    // `text` as a JSON string literal; bytes that are not UTF-8 become U+FFFD.
    static std::string quote(std::string_view text);

  private:
    void separate();
    std::string out_;
    // Per open container: whether it has an element yet.
    std::vector<bool> hasElement_;
    bool afterKey_ = false;
};

}  // namespace kestrova::cli
