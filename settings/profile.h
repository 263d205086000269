// The user's profile: the key "Software\Zimbrel" of the current user and its
// six values, opened in this order (and closed in the reverse one when the
// profile ends): ZBName, ZBPhone, ZBNetwork, ZBAid, ZBNVCheck, ZBInstDir.
// Reads are answered from memory once a read has succeeded; a change is
// written at once. The affiliate id and the delivered-number flag have
// defaults: a read that finds them empty stores the default and returns it.
#pragma once

#include <string>

#include "settings/registry.h"

namespace zb {

class Profile {
 public:
  Profile();
  Profile(const Profile&) = delete;
  Profile& operator=(const Profile&) = delete;

  std::string UserName() { return m_name.get(); }
  void SetUserName(const std::string& v) { m_name.set(v); }
  std::string PhoneNumber() { return m_phone.get(); }
  void SetPhoneNumber(const std::string& v) { m_phone.set(v); }
  std::string PhoneNetwork() { return m_network.get(); }
  void SetPhoneNetwork(const std::string& v) { m_network.set(v); }
  // The affiliate id sent with each ringtone; "2" when empty.
  std::string AffiliateId();
  void SetAffiliateId(const std::string& v) { m_affiliateId.set(v); }
  // "1" once a ringtone has reached the phone number, "0" (the default) for a
  // number that has had none yet.
  std::string NumberDelivered();
  void SetNumberDelivered(const std::string& v) { m_numberDelivered.set(v); }
  // The folder the program was started from, which the file-manager entry
  // starts the program from.
  void SetInstallDir(const std::string& v) { m_installDir.set(v); }

 private:
  registry m_registry;  // first made, last ended: its values copy its handle
  registry::value m_name;
  registry::value m_phone;
  registry::value m_network;
  registry::value m_affiliateId;
  registry::value m_numberDelivered;
  registry::value m_installDir;
};

}  // namespace zb
