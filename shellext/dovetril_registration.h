// Registration of Dovetril: the shell-extension approval value under
// HKEY_LOCAL_MACHINE, the class, program ids and context-menu handler under
// HKEY_CLASSES_ROOT, and the type library.
#pragma once

#include <cstdint>
#include <string>

#include "platform/automation.h"

namespace zb::dovetril {

// The platform version word: the top bit set means the consumer line, which
// has no approval key. This system answers as the NT line.
uint32_t DefaultPlatformVersion();
inline bool IsConsumerLine(uint32_t version) {
  return (version & 0x80000000u) != 0;
}

// Registers the library at `modulePath` (a full, resolved path). On the NT
// line the approval value is written first; E_ACCESSDENIED, with nothing
// written, when its key is missing or not writable. Then the key table and
// the type library; the first failing step's error is returned.
HRESULT RegisterServer(const std::string& modulePath, uint32_t platformVersion);
// Removes what registration wrote, deepest first, keeping the shared keys and
// any key that holds subkeys it did not write. Never fails.
HRESULT UnregisterServer(const std::string& modulePath, uint32_t platformVersion);

}  // namespace zb::dovetril
