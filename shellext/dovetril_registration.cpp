#include "shellext/dovetril_registration.h"

#include <vector>

#include "platform/registry_store.h"
#include "platform/utf.h"
#include "shellext/dovetril_ids.h"
#include "shellext/dovetril_typelib.h"

namespace zb::dovetril {

using namespace zb::reg;

namespace {

// How registration and removal treat a key of the table.
enum class Mode {
  kKeep,         // opened or created; never removed
  kPlain,        // created or updated; removed when nothing foreign is below it
  kForceRemove,  // deleted with its subtree, then created; removed like kPlain
};

struct ValueSpec {
  const char* name;  // null: the unnamed value
  std::string data;
};

struct KeyEntry {
  std::string name;
  Mode mode;
  std::vector<ValueSpec> values;
  std::vector<KeyEntry> children;
};

std::vector<KeyEntry> KeyTable(const std::string& modulePath) {
  const std::string clsid = GuidToString(CLSID_DovetrilShl);
  const std::string libid = GuidToString(LIBID_DOVETRILLib);
  return {
      {kProgId,
       Mode::kPlain,
       {{nullptr, kClassDescription}},
       {{"CLSID", Mode::kPlain, {{nullptr, clsid}}, {}}}},
      {kVersionIndependentProgId,
       Mode::kPlain,
       {{nullptr, kClassDescription}},
       {{"CLSID", Mode::kPlain, {{nullptr, clsid}}, {}},
        {"CurVer", Mode::kPlain, {{nullptr, kProgId}}, {}}}},
      {"CLSID",
       Mode::kKeep,
       {},
       {{clsid,
         Mode::kForceRemove,
         {{nullptr, kClassDescription}},
         {{"ProgID", Mode::kPlain, {{nullptr, kProgId}}, {}},
          {"VersionIndependentProgID", Mode::kPlain, {{nullptr, kVersionIndependentProgId}}, {}},
          {"Programmable", Mode::kForceRemove, {}, {}},
          {"InprocServer32",
           Mode::kPlain,
           {{nullptr, modulePath}, {"ThreadingModel", "Apartment"}},
           {}},
          {"TypeLib", Mode::kPlain, {{nullptr, libid}}, {}}}}}},
      {"*",
       Mode::kKeep,
       {},
       {{"ShellEx",
         Mode::kKeep,
         {},
         {{"ContextMenuHandlers",
           Mode::kKeep,
           {},
           {{kHandlerName, Mode::kForceRemove, {{nullptr, clsid}}, {}}}}}}}},
  };
}

LONG ApplyKey(HKEY parent, const KeyEntry& entry) {
  if (entry.mode == Mode::kForceRemove) {
    LONG rc = RegDeleteTreeA(parent, entry.name.c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return rc;
  }
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExA(parent, entry.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  for (const auto& v : entry.values) {
    rc = RegSetValueExA(key, v.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.data.c_str()),
                        static_cast<DWORD>(v.data.size() + 1));
    if (rc != ERROR_SUCCESS) break;
  }
  for (size_t i = 0; rc == ERROR_SUCCESS && i < entry.children.size(); ++i)
    rc = ApplyKey(key, entry.children[i]);
  RegCloseKey(key);
  return rc;
}

// Deepest first; a key that still has subkeys is left in place.
void RemoveKey(HKEY parent, const KeyEntry& entry) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(parent, entry.name.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  for (auto it = entry.children.rbegin(); it != entry.children.rend(); ++it) RemoveKey(key, *it);
  RegCloseKey(key);
  if (entry.mode != Mode::kKeep) RegDeleteKeyA(parent, entry.name.c_str());
}

std::string FolderOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

const std::u16string& ApprovalValueName() {
  static const std::u16string kName = Utf8ToUtf16(GuidToString(CLSID_DovetrilShl));
  return kName;
}

}  // namespace

uint32_t DefaultPlatformVersion() {
  // Major 10, minor 0, build 19041, top bit clear: the NT line.
  return 10u | (0u << 8) | (19041u << 16);
}

HRESULT RegisterServer(const std::string& modulePath, uint32_t platformVersion) {
  // A path that does not convert to the registry's UTF-16 strings unchanged
  // could not be loaded back from what would be written.
  if (modulePath.empty() || SanitizeUtf8(modulePath) != modulePath) return SELFREG_E_CLASS;
  if (!IsConsumerLine(platformVersion)) {
    HKEY approved = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kApprovalKey, 0, KEY_SET_VALUE, &approved) !=
        ERROR_SUCCESS)
      return E_ACCESSDENIED;
    std::u16string data = Utf8ToUtf16(kApprovalData);
    LONG rc = RegSetValueExW(approved, ApprovalValueName().c_str(), 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(data.c_str()),
                             static_cast<DWORD>((data.size() + 1) * sizeof(char16_t)));
    RegCloseKey(approved);
    if (rc != ERROR_SUCCESS) return E_ACCESSDENIED;
  }
  for (const auto& entry : KeyTable(modulePath)) {
    LONG rc = ApplyKey(HKEY_CLASSES_ROOT, entry);
    if (rc != ERROR_SUCCESS) return HResultFromWin32(rc);
  }
  return RegisterTypeLib(DovetrilTypeLib(), modulePath, FolderOf(modulePath));
}

HRESULT UnregisterServer(const std::string& modulePath, uint32_t platformVersion) {
  if (!IsConsumerLine(platformVersion)) {
    HKEY approved = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kApprovalKey, 0, KEY_SET_VALUE, &approved) ==
        ERROR_SUCCESS) {
      RegDeleteValueW(approved, ApprovalValueName().c_str());
      RegCloseKey(approved);
    }
  }
  auto table = KeyTable(modulePath);
  for (auto it = table.rbegin(); it != table.rend(); ++it) RemoveKey(HKEY_CLASSES_ROOT, *it);
  UnRegisterTypeLib(DovetrilTypeLib());
  return S_OK;
}

}  // namespace zb::dovetril
