#include "shellext/dovetril_typelib.h"

#include <cstdio>
#include <cstring>

#include "platform/registry_store.h"
#include "shellext/dovetril_ids.h"

namespace zb::dovetril {

using namespace zb::reg;

namespace {

LONG SetString(HKEY key, const char* name, const std::string& data) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>(data.size() + 1));
}

// Creates `path` below `parent` and sets its unnamed value (and `extra`).
LONG WriteKey(HKEY parent, const std::string& path, const std::string& data,
              const char* extraName = nullptr, const std::string& extraData = {}) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExA(parent, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = SetString(key, nullptr, data);
  if (rc == ERROR_SUCCESS && extraName) rc = SetString(key, extraName, extraData);
  RegCloseKey(key);
  return rc;
}

std::string VersionText(const TypeLibDescription& lib) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%x.%x", lib.majorVersion, lib.minorVersion);
  return buf;
}

}  // namespace

const TypeLibDescription& DovetrilTypeLib() {
  static const TypeLibDescription kLib = {
      LIBID_DOVETRILLib,
      1,
      0,
      0x409,
      SysKind::kWin32,
      "DOVETRILLib",
      "Dovetril 1.0 Type Library",
      "stdole2.tlb",
      {
          {TypeDescription::Kind::kDualInterface, IID_IDovetrilShl, "IDovetrilShl",
           "IDovetrilShl Interface", nullptr, "IDispatch"},
          {TypeDescription::Kind::kCoClass, CLSID_DovetrilShl, "DovetrilShl", "DovetrilShl Class",
           "IDovetrilShl", nullptr},
      },
  };
  return kLib;
}

HRESULT RegisterTypeLib(const TypeLibDescription& lib, const std::string& path,
                        const std::string& helpDir) {
  const std::string libid = GuidToString(lib.libid);
  const std::string version = "TypeLib\\" + libid + "\\" + VersionText(lib);
  // Registered language-neutral, as the library's only locale.
  LONG rc = WriteKey(HKEY_CLASSES_ROOT, version, lib.helpString);
  if (rc == ERROR_SUCCESS) rc = WriteKey(HKEY_CLASSES_ROOT, version + "\\0\\win32", path);
  if (rc == ERROR_SUCCESS) rc = WriteKey(HKEY_CLASSES_ROOT, version + "\\FLAGS", "0");
  if (rc == ERROR_SUCCESS) rc = WriteKey(HKEY_CLASSES_ROOT, version + "\\HELPDIR", helpDir);
  for (const auto& t : lib.types) {
    if (rc != ERROR_SUCCESS) break;
    if (t.kind != TypeDescription::Kind::kDualInterface) continue;
    const std::string iface = "Interface\\" + GuidToString(t.id);
    rc = WriteKey(HKEY_CLASSES_ROOT, iface, t.name);
    if (rc == ERROR_SUCCESS)
      rc = WriteKey(HKEY_CLASSES_ROOT, iface + "\\TypeLib", libid, "Version", VersionText(lib));
  }
  return rc == ERROR_SUCCESS ? S_OK : HResultFromWin32(rc);
}

HRESULT UnRegisterTypeLib(const TypeLibDescription& lib) {
  const std::string libid = GuidToString(lib.libid);
  for (const auto& t : lib.types) {
    if (t.kind != TypeDescription::Kind::kDualInterface) continue;
    const std::string iface = "Interface\\" + GuidToString(t.id);
    // Only an interface key that still names this library is ours to remove.
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, (iface + "\\TypeLib").c_str(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
      continue;
    bool ours = false;
    char buf[64];
    DWORD size = sizeof buf;
    if (RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size) ==
            ERROR_SUCCESS &&
        size > 0) {
      GUID g;
      ours = GuidFromString(std::string(buf, strnlen(buf, size)), &g) && g == lib.libid;
    }
    RegCloseKey(key);
    if (ours) RegDeleteTreeA(HKEY_CLASSES_ROOT, iface.c_str());
  }
  RegDeleteTreeA(HKEY_CLASSES_ROOT, ("TypeLib\\" + libid + "\\" + VersionText(lib)).c_str());
  // Other versions keep the library key.
  RegDeleteKeyA(HKEY_CLASSES_ROOT, ("TypeLib\\" + libid).c_str());
  return S_OK;
}

}  // namespace zb::dovetril
