// UTF-8 is this system's narrow code page. Conversions replace what cannot be
// converted (invalid bytes, lone surrogates) with U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace zb {

std::u16string Utf8ToUtf16(std::string_view s);
std::string Utf16ToUtf8(std::u16string_view s);
// Replaces invalid UTF-8 sequences with U+FFFD.
std::string SanitizeUtf8(std::string_view s);

}  // namespace zb
