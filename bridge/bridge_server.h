// Serves the web processes' window.external requests on a Unix socket in a
// private (0700) folder, on the GTK main context. A request is answered on the
// main thread through the one scripting object; a request that runs a modal
// loop (a page dialog, a message box) keeps the other connections served.
// Malformed input from a web process closes its connection.
//
// Each connection names the web page it serves (the hello request, sent first
// by the web process extension), so the server knows which view a request
// comes from; a caller filter can refuse pages that no window shows.
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
  explicit BridgeServer(IDispatch* dispatch);
  ~BridgeServer();
  BridgeServer(const BridgeServer&) = delete;
  BridgeServer& operator=(const BridgeServer&) = delete;

  // Creates the folder and the listening socket; false on failure.
  bool Start();
  const std::string& socketPath() const { return m_socketPath; }
  // Requests being served right now (for tests of a dying web process).
  int pendingRequests() const { return m_pending; }

  // Runs one request payload and returns the reply payload; empty when the
  // payload is malformed (the connection is then closed). `pageId` is the page
  // the connection named (0 before its hello).
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
  void CloseClient(Client* c);

  // Arrival times of requests (ns), recorded when $ZIMBREL_BRIDGE_TIMING names
  // a file to write them to when the server ends: the benchmark's measure of
  // one call from page script.
  std::vector<int64_t> m_arrivals;
  std::string m_timingFile;

  std::function<bool(uint64_t)> m_callerFilter;
  IDispatch* m_dispatch;
  std::string m_dir;
  std::string m_socketPath;
  int m_listenFd = -1;
  guint m_listenSource = 0;
  int m_pending = 0;
  std::vector<Client*> m_clients;
};

}  // namespace zb
