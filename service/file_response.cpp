#include "service/file_response.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace zb::service {

bool ServeFile(httplib::Response& res, const std::string& path, const char* mime,
               const std::string& downloadName) {
  constexpr size_t kChunk = size_t{64} << 10;
  int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    return false;
  }
  // The file and one buffer for the whole answer.
  struct Download {
    int fd = -1;
    std::vector<char> buf;
    ~Download() {
      if (fd >= 0) ::close(fd);
    }
  };
  auto download = std::make_shared<Download>();
  download->fd = fd;
  download->buf.resize(kChunk);
  if (!downloadName.empty())
    res.set_header("Content-Disposition", "attachment; filename=\"" + downloadName + "\"");
  res.set_content_provider(static_cast<size_t>(st.st_size), mime,
                           [download](size_t offset, size_t length, httplib::DataSink& sink) {
                             ssize_t n = ::pread(download->fd, download->buf.data(),
                                                 std::min(length, download->buf.size()),
                                                 static_cast<off_t>(offset));
                             if (n <= 0)
                               return false;  // the file shrank or cannot be read: the answer ends
                             return sink.write(download->buf.data(), static_cast<size_t>(n));
                           });
  return true;
}

}  // namespace zb::service
