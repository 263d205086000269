// A file-backed registry behind the Reg* functions (open, create, query, set,
// enumerate, delete, with their result codes and size rules), shared by the
// program and the file-manager extension.
//
// Layout: a root lives in a folder (HKEY_CURRENT_USER under
// $XDG_CONFIG_HOME/zimbrel/registry/, the machine roots under
// /var/lib/zimbrel/registry/, all of them under $ZIMBREL_REGISTRY_DIR when it
// is set). A key is a directory, a value a file holding its type as 4 bytes
// little-endian and then its data. Every write replaces the file atomically
// through a dot-named temporary file; reads and enumeration skip dot-names.
// Names are case-sensitive; a value and a subkey of one name cannot coexist.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zb::reg {

using LONG = int32_t;
using DWORD = uint32_t;
using REGSAM = uint32_t;
using BYTE = uint8_t;

struct KeyObject;
using HKEY = KeyObject*;

// The predefined roots, numbered as the settings store's constructor takes
// them (settings/registry.h) and as gRoots in registry_store.cpp holds them.
enum class Root : int {
  kClassesRoot = 0,
  kCurrentConfig = 1,
  kCurrentUser = 2,
  kLocalMachine = 3,
  kUsers = 4,
  kDynData = 5,
};
constexpr int kRootCount = 6;

// The predefined root's handle; HKEY_CURRENT_USER for a number that is no
// Root.
HKEY RootKey(Root root);

// Predefined roots (pseudo handles; closing them does nothing).
extern const HKEY HKEY_CLASSES_ROOT;
extern const HKEY HKEY_CURRENT_USER;
extern const HKEY HKEY_LOCAL_MACHINE;
extern const HKEY HKEY_USERS;
extern const HKEY HKEY_CURRENT_CONFIG;
extern const HKEY HKEY_DYN_DATA;

// The Reg* functions answer with the system registry's LONG ERROR_* codes,
// as its API does, and stay so: the file-manager component relies on them.
constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_OUTOFMEMORY = 14;
constexpr LONG ERROR_WRITE_FAULT = 29;
constexpr LONG ERROR_READ_FAULT = 30;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_DISK_FULL = 112;
constexpr LONG ERROR_ALREADY_EXISTS = 183;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
constexpr LONG ERROR_BADKEY = 1010;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Narrow (UTF-8) functions. String-typed data (REG_SZ, REG_EXPAND_SZ,
// REG_MULTI_SZ) is converted between UTF-8 and the stored UTF-16LE.
LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, const char* cls, DWORD options,
                     REGSAM sam, void* security, HKEY* result, DWORD* disposition);
LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM sam, HKEY* result);
LONG RegCloseKey(HKEY key);
LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* cbData);
LONG RegSetValueExA(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD cbData);
LONG RegDeleteValueA(HKEY key, const char* name);
// Fails with ERROR_ACCESS_DENIED while the key has subkeys.
LONG RegDeleteKeyA(HKEY key, const char* subKey);
// Deletes subKey with everything below it; a null subKey empties the key itself.
LONG RegDeleteTreeA(HKEY key, const char* subKey);
LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* cchName, DWORD* reserved, char* cls,
                   DWORD* cchClass, void* lastWrite);
LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* cchName, DWORD* reserved, DWORD* type,
                   BYTE* data, DWORD* cbData);

// Wide (UTF-16) functions: names convert to UTF-8, data passes unchanged.
LONG RegCreateKeyExW(HKEY key, const char16_t* subKey, DWORD reserved, const char16_t* cls,
                     DWORD options, REGSAM sam, void* security, HKEY* result, DWORD* disposition);
LONG RegOpenKeyExW(HKEY key, const char16_t* subKey, DWORD options, REGSAM sam, HKEY* result);
LONG RegQueryValueExW(HKEY key, const char16_t* name, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* cbData);
LONG RegSetValueExW(HKEY key, const char16_t* name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD cbData);
LONG RegDeleteValueW(HKEY key, const char16_t* name);
LONG RegDeleteKeyW(HKEY key, const char16_t* subKey);
LONG RegDeleteTreeW(HKEY key, const char16_t* subKey);

// Convenience for C++ callers (tests, tools).
struct RawValue {
  DWORD type = REG_NONE;
  std::string data;  // stored bytes exactly
};
LONG ReadRawValue(HKEY key, std::string_view name, RawValue* out);
std::vector<std::string> ListSubkeys(HKEY key);
std::vector<std::string> ListValues(HKEY key);

// The folder of a predefined root.
std::string RootDirectory(HKEY root);
// The folder of an open key (empty for an invalid handle).
std::string KeyDirectory(HKEY key);
// Escaping of one key or value name into a file name, and back.
std::string EscapeName(std::string_view name);
std::string UnescapeName(std::string_view file);
// Removes temporary files that a crashed writer left in the key's folder.
void SweepTemporaries(HKEY key);

}  // namespace zb::reg
