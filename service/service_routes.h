// What the service answers, on each of its listeners.
#pragma once

#include <functional>
#include <string>

#include "service/guarded_server.h"
#include "service/lan_share.h"
#include "service/service_store.h"

namespace zb::service {

// The largest ringtone the service takes.
constexpr size_t kMaxRingtone = size_t{256} << 20;

// A JSON string (with its quotes) holding `text`.
std::string JsonString(const std::string& text);

// The pages a browser shows: the home page, /redir.php and /phone/...
void BrowserRoutes(GuardedServer& svr, Store& store);

// Everything the program asks for: sessions, uploads, the share on the home
// network, the paired phones, the browser's address (`browserUrl` gives
// it), and the browser's pages as well.
void ProgramRoutes(GuardedServer& svr, Store& store, LanShare& share,
                   std::function<std::string()> browserUrl);

}  // namespace zb::service
