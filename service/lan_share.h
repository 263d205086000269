// The share over the home network: a link, for a phone on the same network,
// to a small page with the last ringtone a session delivered, as MP3 and as
// an iPhone ringtone.
//
// A share lives `lifetime` (then its link answers 404). The network listener
// runs only while a share is live, on an address of this machine's home
// network, and serves nothing but the share pages and their two files:
// sessions, uploads and everything else stay on the service's own socket. It
// has its own connections and threads, and one client address may hold only
// a few connections at once, so the network cannot starve the program's
// requests. A share's token is 160 bits from getrandom(2).
//
// Files: <work>/<token>.m4r for each live share (the folder is emptied when
// the service starts). All members are safe to call from several threads.
#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/guarded_server.h"

namespace zb::service {

struct ShareOptions {
  std::string lanAddress;  // "" chooses one (ChooseLanAddress)
  int lanPort = 47913;     // taken when free, else any free port
  std::chrono::seconds lifetime{900};
  ServerLimits limits{16,
                      std::chrono::milliseconds(5000),
                      std::chrono::milliseconds(10000),
                      std::chrono::milliseconds(10000),
                      std::chrono::milliseconds(2000),
                      5,
                      4};
};

// Whether an interface's name is one of a virtual network's (containers,
// bridges, tunnels, VPNs), never the home network.
bool IsVirtualInterface(const std::string& name);

// The address a phone on the home network reaches this machine at: the
// first address of an interface that is up and neither loopback nor
// virtual, not link-local, IPv4 before IPv6; "" when there is none.
std::string ChooseLanAddress();

class LanShare {
 public:
  LanShare(std::string workDir, ShareOptions options);
  ~LanShare();
  LanShare(const LanShare&) = delete;
  LanShare& operator=(const LanShare&) = delete;

  struct Offer {
    int status = 200;       // 200, or 404/503/500 with `error`
    std::string url;        // the link to the share page
    long long expires = 0;  // seconds left
    std::string error;      // a sentence for the user
  };
  // The share of the ringtone at `mp3` for session `sid`: the live one when
  // the session shares that ringtone already, else a new one.
  Offer Share(const std::string& sid, const std::string& mp3);

  // Whether a share is live now.
  bool Live();
  // Ends the shares whose time is up, and the listener when none is left.
  void Sweep();
  // The listener's port, 0 while it is not listening.
  int Port() const { return m_port; }

 private:
  struct Entry {
    std::string sid, token, mp3, m4r;
    std::chrono::steady_clock::time_point expires;
  };
  std::shared_ptr<const Entry> FindLive(const std::string& token);
  // With m_listenerMu held (and not m_mu).
  bool StartListenerLocked(std::string* error);
  void StopListenerLocked();
  void Routes(GuardedServer& svr);

  std::string m_work;
  ShareOptions m_options;
  // Lock order: m_listenerMu, then m_mu. The listener's handlers take m_mu only.
  std::mutex m_listenerMu;  // the listener: m_server, m_thread, m_address
  std::mutex m_mu;          // m_shares
  std::vector<std::shared_ptr<const Entry>> m_shares;
  std::unique_ptr<GuardedServer> m_server;
  std::thread m_thread;
  std::string m_address;
  std::atomic<int> m_port{0};
};

}  // namespace zb::service
