// WebContext: the one WebKit context of the program and what lives as long
// as it does. It holds
// - the web process extension's folder and start-up data (the bridge's
//   socket and secret, the module directory, the work folder, the service's
//   address), and WebKit's sandbox for the web processes (app/web_sandbox.h);
// - the page scheme's reader (app/page_scheme.h) over the program's pages
//   and the work folder the pages' res/tmp/ names map into;
// - the navigation policy of every view (app/navigation_policy.h);
// - the views that windows show (CWebBrowser2 adds and removes itself), by
//   which the bridge answers only the pages a window shows;
// - the spare view (app/spare_view.h).
// The memory-pressure settings of the web and network processes and the
// pages' languages are set when it is made; nothing is ever downloaded.
//
// The application object makes it once, after the bridge, and ends it after
// every view of it and before the bridge.
#pragma once

#include <webkit2/webkit2.h>

#include <memory>
#include <string>
#include <vector>

#include "app/web_sandbox.h"
#include "bridge/program_pages.h"

namespace zb {

class BridgeServer;
class CWebBrowser2;
class ModalRuns;
class NavigationPolicy;
class SpareView;
struct ProgramEnvironment;

class WebContext {
 public:
  // `sandbox`: whether WebKit's sandbox can run (when not, why goes to
  // standard error once). `runs`: the program's modal runs, which the views'
  // boxes join. `environment`: what the program set in its environment, kept
  // from the browser the views open. `bridge`, `runs` and `environment` must
  // outlive the context. Sets the bridge's caller filter: a page may call
  // while a window shows it; once the context has ended, none may.
  WebContext(const std::string& moduleDir, BridgeServer& bridge, const std::string& workFolder,
             const SandboxUse& sandbox, ModalRuns& runs, const ProgramEnvironment& environment);
  ~WebContext();
  WebContext(const WebContext&) = delete;
  WebContext& operator=(const WebContext&) = delete;

  // A view for a window: the spare when there is one (`fromSpare` set), or a
  // new one. The caller owns its one reference.
  WebKitWebView* TakeView(bool* fromSpare);
  // A page has loaded in a window's view: the spare is prepared.
  void PageLoaded();
  // Ends the spare view and its web process.
  void DropSpare();

  // The address of ours for a page of res/ named by a file path (absolute or
  // relative to the working folder), a file URL or an address of ours; ""
  // when it names anything else (ProgramPages::AddressFor).
  std::string PageAddress(const std::string& page) const { return m_pages.AddressFor(page); }

  // The program's modal runs.
  ModalRuns& Runs() const { return m_runs; }

  // The views windows show.
  void AddView(CWebBrowser2* view);
  void RemoveView(CWebBrowser2* view);
  // The view whose web page has that id, or null (the spare is not one).
  CWebBrowser2* ViewOfPage(guint64 pageId) const;
  // The view of that WebKit view, or null.
  CWebBrowser2* ViewOf(WebKitWebView* view) const;

 private:
  static void OnInitializeWebExtensions(WebKitWebContext* context, gpointer self);
  // A new view with the program's settings and navigation policy.
  WebKitWebView* NewView();

  struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
  };

  BridgeServer& m_bridge;
  ModalRuns& m_runs;
  const std::string m_moduleDir, m_workFolder, m_socketPath, m_secret;
  const ProgramPages m_pages;
  std::vector<CWebBrowser2*> m_views;
  // They end in reverse order: the spare view, the policy its view was
  // made with, then the context.
  std::unique_ptr<WebKitWebContext, Unref> m_context;
  std::unique_ptr<NavigationPolicy> m_policy;
  std::unique_ptr<SpareView> m_spare;
};

}  // namespace zb
