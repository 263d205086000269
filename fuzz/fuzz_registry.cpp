// The registry's name escaping and value files: arbitrary names round-trip
// through escaping, and arbitrary bytes in a value file are read safely.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "platform/registry_store.h"

namespace {
std::string gDir;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char tmpl[] = "/tmp/zbfuzz-reg-XXXXXX";
  gDir = mkdtemp(tmpl);
  setenv("ZIMBREL_REGISTRY_DIR", gDir.c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zb::reg;
  std::string in(reinterpret_cast<const char*>(data), size);
  std::string name = in.substr(0, in.find('\n'));
  std::string escaped = EscapeName(name);
  if (UnescapeName(escaped) != name) __builtin_trap();
  if (escaped.find('/') != std::string::npos || (!escaped.empty() && escaped[0] == '.'))
    __builtin_trap();

  HKEY k = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "Fuzz", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                      nullptr) != ERROR_SUCCESS)
    return 0;
  // Arbitrary bytes as a value file, read through every path.
  { std::ofstream(KeyDirectory(k) + "/v", std::ios::binary) << in; }
  uint8_t buf[64];
  DWORD cb = sizeof buf, type = 0;
  RegQueryValueExA(k, "v", nullptr, &type, buf, &cb);
  cb = 0;
  RegQueryValueExA(k, "v", nullptr, &type, nullptr, &cb);
  RawValue raw;
  ReadRawValue(k, "v", &raw);
  char n[300];
  DWORD cch = sizeof n;
  cb = sizeof buf;
  RegEnumValueA(k, 0, n, &cch, nullptr, &type, buf, &cb);
  // A value under a fuzzed name, written and read back.
  if (name.size() < 200 && name.find('\0') == std::string::npos) {
    if (RegSetValueExA(k, name.c_str(), 0, REG_BINARY, data, static_cast<DWORD>(size)) ==
        ERROR_SUCCESS) {
      if (ReadRawValue(k, name, &raw) != ERROR_SUCCESS || raw.data != in) __builtin_trap();
      RegDeleteValueA(k, name.c_str());
    }
  }
  RegCloseKey(k);
  return 0;
}
