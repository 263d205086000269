// The drive and track index texts of the CD grab.
#include <cstddef>
#include <cstdint>
#include <string>

#include "media/cd_jobs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  (void)zb::media::ParseCdIndex(text);
  return 0;
}
