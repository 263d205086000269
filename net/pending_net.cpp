// TEMPORARY: placeholders until the network jobs land (deleted with them).
#include "net/http_request.h"
#include "net/upload.h"

namespace zb::net {
bool StartUpload(const std::shared_ptr<media::JobState>&, const std::string&,
                 const std::string&) { return false; }
bool StartHttpRequest(const std::shared_ptr<media::JobState>&, const std::string&) {
  return false;
}
}  // namespace zb::net
