#include "media/media_paths.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>

namespace zb::media {

std::string FfmpegPath(const std::string& p) {
  if (p.empty() || p[0] == '/') return p;
  size_t colon = p.find(':');
  bool protocolLike = colon != std::string::npos && p.find('/') > colon;
  if (p[0] == '-' || protocolLike) return "file:" + p;
  return p;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string ParentOf(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string parent(path, 0, slash == std::string::npos ? 0 : std::max<size_t>(slash, 1));
  return parent.empty() ? "." : parent;
}

bool InFolder(const std::string& path, const std::string& dir) {
  char a[PATH_MAX], b[PATH_MAX];
  return realpath(ParentOf(path).c_str(), a) && realpath(dir.c_str(), b) && strcmp(a, b) == 0;
}

}  // namespace zb::media
