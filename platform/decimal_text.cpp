#include "platform/decimal_text.h"

#include <locale.h>

#include <cstdlib>
#include <limits>
#include <string>

namespace zb {

int32_t ReadDecimal(std::string_view text) {
  auto at = [&](size_t i) { return i < text.size() ? text[i] : '\0'; };
  auto digit = [&](size_t i) { return at(i) >= '0' && at(i) <= '9'; };
  size_t i = 0;
  while (at(i) == ' ' || (at(i) >= '\t' && at(i) <= '\r')) ++i;
  size_t begin = i;
  if (at(i) == '+' || at(i) == '-') ++i;
  size_t digits = 0;
  for (; digit(i); ++i) ++digits;
  if (at(i) == '.') {
    ++i;
    for (; digit(i); ++i) ++digits;
  }
  if (digits == 0) return 0;
  if (at(i) == 'e' || at(i) == 'E') {
    size_t j = i + 1;
    if (at(j) == '+' || at(j) == '-') ++j;
    if (digit(j)) {
      while (digit(j)) ++j;
      i = j;
    }
  }
  std::string number(text.substr(begin, i - begin));
  // Read in the "C" locale whatever the program's locale is.
  static locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
  double v = c ? strtod_l(number.c_str(), nullptr, c) : std::strtod(number.c_str(), nullptr);
  if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);  // toward zero
}

}  // namespace zb
