#include "core/redirect_url.h"

#include <chrono>

#include "net/percent_encode.h"
#include "net/service_query.h"
#include "platform/service_host.h"
#include "platform/stderr_notice.h"

namespace zb {

std::optional<std::string> BuildRedirectUrl(std::string_view where) {
  using net::kQueryValue;
  using net::PercentEncode;
  const ServiceHost service = GetServiceHost();
  auto base = net::BrowserAddress(service, std::chrono::seconds(3));
  if (!base) {
    Notice("the ringtone service on " + service.socketPath + " did not name its browser address");
    return std::nullopt;
  }
  return base.Value() + "redir.php?ver=" + PercentEncode(kVersionCode, kQueryValue) +
         "&aff=" + PercentEncode(kAffiliateCode, kQueryValue) +
         "&where=" + PercentEncode(where, kQueryValue);
}

}  // namespace zb
