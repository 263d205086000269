#include "media/folder_sweep.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace zb::media {

void SweepFolder(const std::string& folder, std::string_view extension) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  DIR* d = ::fdopendir(fd);
  if (!d) {
    ::close(fd);
    return;
  }
  const std::string ext(extension);
  std::vector<std::string> doomed;
  while (dirent* e = ::readdir(d)) {
    size_t len = std::strlen(e->d_name);
    if (len >= ext.size() && ::strcasecmp(e->d_name + len - ext.size(), ext.c_str()) == 0)
      doomed.push_back(e->d_name);
  }
  for (const auto& name : doomed) ::unlinkat(fd, name.c_str(), 0);
  ::closedir(d);  // closes fd
}

}  // namespace zb::media
