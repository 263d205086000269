#pragma once

#include <cstdint>
#include <string_view>

namespace zb {

// The one reader of numbers written as text (a CD drive or track index, a
// string where a member takes an integer): after leading white space, the
// longest decimal number (sign, digits, fraction, exponent), read in the "C"
// locale, cut toward zero and clamped to 32 bits. Whatever follows is
// ignored; 0 when there is no number (hexadecimal, "inf" and "nan" are none).
int32_t ReadDecimal(std::string_view text);

}  // namespace zb
