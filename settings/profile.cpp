#include "settings/profile.h"

namespace zb {

namespace {
std::string WithDefault(registry::value& v, const char* fallback) {
  std::string text = v.get();
  if (!text.empty()) return text;
  v.set(fallback);
  return fallback;
}
}  // namespace

Profile::Profile()
    : m_registry("Software\\Zimbrel", reg::Root::kCurrentUser),
      m_name(m_registry, "ZBName"),
      m_phone(m_registry, "ZBPhone"),
      m_network(m_registry, "ZBNetwork"),
      m_affiliateId(m_registry, "ZBAid"),
      m_numberDelivered(m_registry, "ZBNVCheck"),
      m_installDir(m_registry, "ZBInstDir") {}

std::string Profile::AffiliateId() {
  return WithDefault(m_affiliateId, "2");
}
std::string Profile::NumberDelivered() {
  return WithDefault(m_numberDelivered, "0");
}

}  // namespace zb
