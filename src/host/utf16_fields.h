// Paths and texts in the host's UTF-16 record fields.
#pragma once

#include <cstddef>
#include <string>

namespace kestrova::host {

// A zero-terminated UTF-16 path as UTF-8; empty for null, invalid or
// unterminated text.
std::string readUtf16Path(const char16_t* path);
// Writes `text` into a field of `units` UTF-16 units, cut to fit and
// always terminated.
void writeUtf16Field(void* record, std::size_t offset, std::size_t units, const std::string& text);

}  // namespace kestrova::host
