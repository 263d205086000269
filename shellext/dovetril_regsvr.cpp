// dovetril-regsvr: registers or removes a self-registering component library
// by calling its DllRegisterServer or DllUnregisterServer, and prints the
// result code.
//
//   dovetril-regsvr <library>       register
//   dovetril-regsvr -u <library>    remove
//   dovetril-regsvr --provision     create the machine keys that registration
//                                   only opens (run once, as root)
//
// Exit codes: 0 success, 1 usage, 3 the library cannot be loaded, 4 it lacks
// the entry point, 5 the entry point failed.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/automation.h"
#include "platform/registry_store.h"

namespace {

using zb::HRESULT;

constexpr char kApprovalKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

int Usage() {
  std::fprintf(stderr,
               "usage: dovetril-regsvr [-u] <library>\n       dovetril-regsvr --provision\n");
  return 1;
}

int Provision() {
  zb::reg::HKEY key = nullptr;
  zb::reg::LONG rc = zb::reg::RegCreateKeyExA(zb::reg::HKEY_LOCAL_MACHINE, kApprovalKey, 0, nullptr,
                                              zb::reg::REG_OPTION_NON_VOLATILE,
                                              zb::reg::KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (rc != zb::reg::ERROR_SUCCESS) {
    std::printf("Creating HKEY_LOCAL_MACHINE\\%s failed. Error code was: %d\n", kApprovalKey, rc);
    return 5;
  }
  zb::reg::RegCloseKey(key);
  std::printf("HKEY_LOCAL_MACHINE\\%s is ready.\n", kApprovalKey);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool unregister = false;
  const char* library = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-u") == 0)
      unregister = true;
    else if (std::strcmp(argv[i], "--provision") == 0)
      return argc == 2 ? Provision() : Usage();
    else if (!library)
      library = argv[i];
    else
      return Usage();
  }
  if (!library) return Usage();

  // A name without a slash would be searched in the library path.
  char resolved[PATH_MAX];
  std::string path = ::realpath(library, resolved) ? resolved : library;
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    std::printf("LoadLibrary(\"%s\") failed: %s\n", library, dlerror());
    return 3;
  }
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  auto fn = reinterpret_cast<HRESULT (*)()>(dlsym(handle, entry));
  if (!fn) {
    std::printf("%s was not found in %s.\n", entry, library);
    dlclose(handle);
    return 4;
  }
  HRESULT hr = fn();
  int code = 0;
  if (zb::SUCCEEDED(hr)) {
    std::printf("%s in %s succeeded.\n", entry, library);
  } else {
    std::printf("%s in %s failed.\nReturn code was: 0x%08X\n", entry, library,
                static_cast<unsigned>(hr));
    code = 5;
  }
  std::fflush(stdout);
  dlclose(handle);
  return code;
}
