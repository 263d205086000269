#include "platform/module_dir.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

namespace zb {
namespace {
std::string CutAtLastSlash(const std::string& p) {
  auto pos = p.rfind('/');
  if (pos == std::string::npos) return ".";
  if (pos == 0) return "/";
  return p.substr(0, pos);
}
}  // namespace

std::string ModuleDirectory() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  buf[n] = 0;
  return CutAtLastSlash(buf);
}

std::string ModulePathOf(const void* address) {
  Dl_info info{};
  if (!::dladdr(address, &info) || !info.dli_fname) return {};
  char resolved[PATH_MAX];
  if (::realpath(info.dli_fname, resolved)) return resolved;
  return info.dli_fname;
}

std::string ModuleDirectoryOf(const void* address) {
  std::string p = ModulePathOf(address);
  return p.empty() ? std::string() : CutAtLastSlash(p);
}

}  // namespace zb
