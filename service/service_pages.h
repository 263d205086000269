// The demo service's HTML pages.
#pragma once

#include <string>
#include <vector>

#include "service/service_store.h"

namespace zb::service {

std::string HtmlEscape(const std::string& text);

// The page that /redir.php shows for a `where` other than a phone number
// ("homepage" gives the home page).
std::string WherePage(const std::string& where);
// The ringtones delivered to a phone, each with a player and a download link.
std::string PhonePage(const std::string& digits, const std::vector<Delivery>& deliveries);
// The page a phone opens from a shared link: the ringtone as "Android (MP3)"
// at `base`/ringtone.mp3 and, when `iphone`, as "iPhone (M4R)" at
// `base`/ringtone.m4r, with a few lines on setting a ringtone on each and on
// what to try when the link does not open (`port`: the network port). Small,
// and works without script.
std::string SharePage(const std::string& base, bool iphone, int port);
// A short page for errors that a browser may show.
std::string MessagePage(const std::string& title, const std::string& text);

}  // namespace zb::service
