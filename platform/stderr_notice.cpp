#include "platform/stderr_notice.h"

#include <unistd.h>

#include <cerrno>

namespace zb {

std::string NoticeLine(std::string_view text) {
  std::string line = "zimbrel: ";
  line += text;
  line += '\n';
  return line;
}

void Notice(std::string_view text) {
  const std::string line = NoticeLine(text);
  std::string_view rest = line;
  while (!rest.empty()) {
    ssize_t n = ::write(STDERR_FILENO, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nowhere to tell it
    rest.remove_prefix(static_cast<size_t>(n));
  }
}

}  // namespace zb
