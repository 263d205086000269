// The pages' address scheme, read by the one reader: an address of ours gives
// back the path it was made from; the path read from any text never holds a
// NUL or a "." or ".." segment; a page the web process takes for ours lies in
// res/ and not in res/tmp/; a byte range read from any header lies inside
// the file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "bridge/program_pages.h"

namespace {

bool HasDotSegment(const std::string& p) {
  size_t start = 0;
  while (start <= p.size()) {
    size_t end = p.find('/', start);
    if (end == std::string::npos) end = p.size();
    std::string seg = p.substr(start, end - start);
    if (seg == "." || seg == "..") return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string in(reinterpret_cast<const char*>(data), size);
  const std::string path = zb::PathOfPageAddress(in);
  if (path.find('\0') != std::string::npos || HasDotSegment(path)) __builtin_trap();
  if (!path.empty() && path[0] != '/') __builtin_trap();

  const std::string asPath = "/" + in;
  if (asPath.find('\0') == std::string::npos && !HasDotSegment(asPath) &&
      zb::PathOfPageAddress(zb::PageAddress(asPath)) != asPath)
    __builtin_trap();

  static const zb::ProgramPages kPages("/m", "/w");
  if (kPages.Contains(in)) {
    if (path.rfind("/m/res/", 0) != 0 || path.rfind("/m/res/tmp/", 0) == 0) __builtin_trap();
  }

  uint64_t first = 0, last = 0;
  const uint64_t fileSize = size % 4096;
  if (zb::ParseByteRange(in, fileSize, &first, &last) && !(first <= last && last < fileSize))
    __builtin_trap();
  return 0;
}
