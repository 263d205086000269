#include "app/web_context.h"

#include <algorithm>

#include "app/navigation_policy.h"
#include "app/page_scheme.h"
#include "app/spare_view.h"
#include "app/web_browser.h"
#include "app/web_view_settings.h"
#include "bridge/bridge_server.h"
#include "platform/service_host.h"
#include "platform/stderr_notice.h"
#include "platform/translation.h"

namespace zb {

WebContext::WebContext(const std::string& moduleDir, BridgeServer& bridge,
                       const std::string& workFolder, const SandboxUse& sandbox, ModalRuns& runs,
                       const ProgramEnvironment& environment)
    : m_bridge(bridge),
      m_runs(runs),
      m_moduleDir(moduleDir),
      m_workFolder(workFolder),
      m_socketPath(bridge.SocketPath()),
      m_secret(bridge.Secret()),
      // The folder the pages' jobs write to and the <audio> element plays
      // from is never a page of ours; only its audio files are served.
      m_pages(moduleDir, workFolder) {
  // The network process takes these when it starts (with the first view).
  WebKitMemoryPressureSettings* network = NewMemoryPressureSettings(kNetworkMemoryLimitMB);
  webkit_website_data_manager_set_memory_pressure_settings(network);
  webkit_memory_pressure_settings_free(network);
  WebKitMemoryPressureSettings* web = NewMemoryPressureSettings(kWebMemoryLimitMB);
  m_context.reset(WEBKIT_WEB_CONTEXT(
      g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "memory-pressure-settings", web, nullptr)));
  webkit_memory_pressure_settings_free(web);
  WebKitWebContext* context = m_context.get();
  webkit_web_context_set_cache_model(context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
  // The pages speak the user's language (navigator.languages picks their
  // catalogue); with none but C they stay English.
  std::vector<std::string> languages = WebLanguages(g_get_language_names());
  if (!languages.empty()) {
    std::vector<const char*> list;
    for (const std::string& l : languages) list.push_back(l.c_str());
    list.push_back(nullptr);
    webkit_web_context_set_preferred_languages(context, list.data());
  }
  g_signal_connect(context, "initialize-web-extensions", G_CALLBACK(OnInitializeWebExtensions),
                   this);
  RegisterPageScheme(context, &m_pages);
  // Nothing is downloaded, in any view, whatever a page asks.
  g_signal_connect(context, "download-started",
                   G_CALLBACK(+[](WebKitWebContext*, WebKitDownload* download, gpointer) {
                     g_signal_connect(download, "decide-destination",
                                      G_CALLBACK(+[](WebKitDownload*, gchar*, gpointer) {
                                        return TRUE;  // no destination: nothing written
                                      }),
                                      nullptr);
                     webkit_download_cancel(download);
                     Notice("a page asked to download a file, which Zimbrel does not do");
                   }),
                   nullptr);
  SetUpWebSandbox(context, sandbox, WebProcessSandboxPaths(moduleDir, bridge.Folder(), workFolder));

  m_policy = std::make_unique<NavigationPolicy>(
      m_pages, [this](WebKitWebView* view) { return ViewOf(view); }, runs, environment);
  m_spare = std::make_unique<SpareView>([this] { return NewView(); });
  // Pages that no window shows (a closed dialog's page still running) may
  // not use the bridge.
  m_bridge.SetCallerFilter([this](uint64_t pageId) { return ViewOfPage(pageId) != nullptr; });
}

WebContext::~WebContext() {
  // No window shows a page any more.
  m_bridge.SetCallerFilter([](uint64_t) { return false; });
  g_signal_handlers_disconnect_by_data(m_context.get(), this);
}

void WebContext::OnInitializeWebExtensions(WebKitWebContext* context, gpointer self) {
  auto* web = static_cast<const WebContext*>(self);
  webkit_web_context_set_web_extensions_directory(context,
                                                  (web->m_moduleDir + "/extensions").c_str());
  webkit_web_context_set_web_extensions_initialization_user_data(
      context, WebExtensionData(web->m_socketPath, web->m_moduleDir, web->m_workFolder,
                                GetServiceHost().BrowserPrefix(), web->m_secret));
}

WebKitWebView* WebContext::NewView() {
  WebKitSettings* settings = NewViewSettings();
  auto* view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", m_context.get(),
                                            "settings", settings, nullptr));
  g_object_unref(settings);
  g_object_ref_sink(view);  // the caller's reference
  m_policy->Apply(view);
  return view;
}

WebKitWebView* WebContext::TakeView(bool* fromSpare) {
  // The spare's web process is running (or starting): a plain view of its
  // own, never one related to a view whose script may be blocked.
  WebKitWebView* view = m_spare->Take();
  *fromSpare = view != nullptr;
  return view ? view : NewView();
}

void WebContext::PageLoaded() {
  m_spare->PrepareSoon();
}

void WebContext::DropSpare() {
  m_spare->Drop();
}

void WebContext::AddView(CWebBrowser2* view) {
  m_views.push_back(view);
}

void WebContext::RemoveView(CWebBrowser2* view) {
  m_views.erase(std::remove(m_views.begin(), m_views.end(), view), m_views.end());
}

CWebBrowser2* WebContext::ViewOfPage(guint64 pageId) const {
  if (pageId == 0) return nullptr;
  for (CWebBrowser2* b : m_views)
    if (b->View() && webkit_web_view_get_page_id(b->View()) == pageId) return b;
  return nullptr;
}

CWebBrowser2* WebContext::ViewOf(WebKitWebView* view) const {
  for (CWebBrowser2* b : m_views)
    if (b->View() == view) return b;
  return nullptr;
}

}  // namespace zb
