// The type library of Dovetril, described in code, and its registration.
#pragma once

#include <string>
#include <vector>

#include "platform/automation.h"

namespace zb::dovetril {

enum class SysKind { kWin16 = 0, kWin32 = 1, kMac = 2, kWin64 = 3 };

struct TypeDescription {
  enum class Kind { kDualInterface, kCoClass };
  Kind kind;
  GUID id;
  const char* name;
  const char* helpString;
  const char* defaultInterface;  // coclass only
  const char* baseInterface;     // interface only
};

struct TypeLibDescription {
  GUID libid;
  WORD majorVersion;
  WORD minorVersion;
  LCID lcid;
  SysKind sysKind;
  const char* name;
  const char* helpString;
  const char* imports;  // the standard automation library
  std::vector<TypeDescription> types;
};

// DOVETRILLib 1.0: IDovetrilShl (dual, no members of its own) and the
// creatable class DovetrilShl.
const TypeLibDescription& DovetrilTypeLib();

// Writes TypeLib\{libid}\<major.minor> (help string, 0\win32, FLAGS, HELPDIR)
// and Interface\{iid} (name, TypeLib with Version) for each dual interface,
// under HKEY_CLASSES_ROOT. `path` is the file holding the library.
HRESULT RegisterTypeLib(const TypeLibDescription& lib, const std::string& path,
                        const std::string& helpDir);
// Removes what RegisterTypeLib wrote: the version key, the library key when
// no other version is left, and each interface key that names this library.
HRESULT UnRegisterTypeLib(const TypeLibDescription& lib);

// A Win32 error as an HRESULT.
constexpr HRESULT HResultFromWin32(int32_t e) {
  return e <= 0 ? e : static_cast<HRESULT>((static_cast<uint32_t>(e) & 0xFFFF) | 0x80070000u);
}

}  // namespace zb::dovetril
