#include "shellext/host_message_box.h"

#include <dlfcn.h>
#include <link.h>

#include <string>
#include <vector>

namespace zb::host {

namespace {

int AddName(dl_phdr_info* info, size_t, void* data) {
  if (info->dlpi_name && info->dlpi_name[0])
    static_cast<std::vector<std::string>*>(data)->push_back(info->dlpi_name);
  return 0;
}

}  // namespace

HostMessageBoxFn FindHostMessageBox() {
  // A module loaded into the global scope is found at once.
  if (void* fn = dlsym(RTLD_DEFAULT, kHostMessageBoxSymbol))
    return reinterpret_cast<HostMessageBoxFn>(fn);
  // Others only through their own handles. The names are gathered first:
  // dlopen must not run inside dl_iterate_phdr, which holds the loader's lock.
  std::vector<std::string> names;
  dl_iterate_phdr(AddName, &names);
  for (const std::string& name : names) {
    // RTLD_NOLOAD: only a library already loaded, and its count is given back.
    void* handle = dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (!handle) continue;
    void* fn = dlsym(handle, kHostMessageBoxSymbol);
    dlclose(handle);
    // The library stays loaded after dlclose: its loader holds it while a
    // handler it created runs (the caller is one).
    if (fn) return reinterpret_cast<HostMessageBoxFn>(fn);
  }
  return nullptr;
}

}  // namespace zb::host
