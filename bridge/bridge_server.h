// Serves the web processes' window.external requests on a Unix socket in a
// private (0700) folder, on the GTK main context. A request is answered on the
// main thread through the one scripting object; a request that runs a modal
// loop (a page dialog, a message box) keeps the other connections served.
// Malformed input from a web process closes its connection.
//
// Only the program's own web processes are served. A connecting process must
// run as the same user (SO_PEERCRED), and its first request (the hello, sent
// by the web process extension) must carry the secret made for this run,
// which the extension gets in its initialisation data; anything else closes
// the connection before a single lookup or call is run. The hello also names
// the web page the connection serves, so the server knows which view a
// request comes from; a caller filter can refuse pages that no window shows.
//
// Before its hello a connection may send only the hello (a small frame),
// within kHelloWait; at most kMaxWaiting connections wait for theirs at once
// (a new one closes the one that waited longest), so that memory and
// descriptors stay bounded whatever a peer does, and the pages' calls go on.
// When the process runs out of descriptors, accepting pauses briefly instead
// of spinning.
//
// The folder is made in $XDG_RUNTIME_DIR (in the temporary folder when that
// is unset or not private) and holds the socket and a lock file, locked while
// the server runs. Each start removes the folders that programs which were
// killed left behind: those whose lock is free (and, of the layout without a
// lock, those older than a minute whose socket nobody listens on).
#pragma once

#include <glib.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/automation.h"

namespace zb {

class BridgeServer {
 public:
  static constexpr size_t kMaxHelloFrame = 1024;
  static constexpr unsigned kHelloWaitMs = 2000;
  static constexpr size_t kMaxWaiting = 16;

  explicit BridgeServer(IDispatch* dispatch);
  ~BridgeServer();
  BridgeServer(const BridgeServer&) = delete;
  BridgeServer& operator=(const BridgeServer&) = delete;

  // Removes folders left by killed runs, creates the folder, the secret and
  // the listening socket; false on failure.
  bool Start();
  const std::string& SocketPath() const { return m_socketPath; }
  // The folder holding the socket (for the web processes' sandbox).
  const std::string& Folder() const { return m_dir; }
  // The secret a connection's hello must carry (set by Start).
  const std::string& Secret() const { return m_secret; }
  // Requests being served right now (for tests of a dying web process).
  int PendingRequests() const { return m_pending; }
  // Connections open now, and those of them still waiting for their hello.
  size_t Connections() const { return m_clients.size(); }
  size_t WaitingForHello() const;

  // Runs one request payload (a lookup or a call) and returns the reply
  // payload; empty when the payload is malformed or a hello (the connection
  // is then closed). `pageId` is the page the connection named.
  std::string Handle(const std::string& payload, uint64_t pageId = 0);

  // Whether the page with that id may use the scripting object; a refused
  // page's lookups and calls get an error reply (the connection stays open).
  // Without a filter every page may.
  void SetCallerFilter(std::function<bool(uint64_t pageId)> filter) {
    m_callerFilter = std::move(filter);
  }
  // The page whose request is being served (the innermost one while requests
  // nest: a page dialog's page calls while its opener's request runs the
  // dialog); 0 when none is.
  static uint64_t CallerPageId();

 private:
  struct Client;
  static gboolean OnAccept(gint fd, GIOCondition cond, gpointer self);
  static gboolean OnClientReadable(gint fd, GIOCondition cond, gpointer client);
  static gboolean OnHelloLate(gpointer client);
  void ListenAgainSoon();
  void CloseClient(Client* c);
  // Whether a request that arrived on `c` before its hello is a hello with
  // the secret; names the client's page when it is.
  bool Admit(Client* c, const std::string& payload) const;

  // Arrival times of requests (ns), recorded when $ZIMBREL_BRIDGE_TIMING names
  // a file to write them to when the server ends: the benchmark's measure of
  // one call from page script.
  std::vector<int64_t> m_arrivals;
  std::string m_timingFile;

  std::function<bool(uint64_t)> m_callerFilter;
  IDispatch* m_dispatch;
  std::string m_dir;
  std::string m_socketPath;
  std::string m_secret;
  int m_lockFd = -1;
  int m_listenFd = -1;
  guint m_listenSource = 0;
  guint m_listenPause = 0;
  int m_pending = 0;
  std::vector<Client*> m_clients;
};

}  // namespace zb
