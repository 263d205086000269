#include "core/redirect_url.h"

#include "net/percent_encode.h"
#include "platform/service_host.h"

namespace zb {

std::string BuildRedirectUrl(std::string_view where) {
  using net::kQueryValue;
  using net::PercentEncode;
  return GetServiceHost().baseUrl() + "/redir.php?ver=" + PercentEncode(kVersionCode, kQueryValue) +
         "&aff=" + PercentEncode(kAffiliateCode, kQueryValue) +
         "&where=" + PercentEncode(where, kQueryValue);
}

}  // namespace zb
