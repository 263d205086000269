// The one reader of numbers written as text (CD indexes, strings given for
// integer arguments).
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/decimal_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  (void)zb::ReadDecimal(text);
  return 0;
}
