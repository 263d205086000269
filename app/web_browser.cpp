#include "app/web_browser.h"

#include <gio/gunixinputstream.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/app_commands.h"
#include "app/message_box.h"
#include "app/modal_window.h"
#include "app/process_environment.h"
#include "app/web_sandbox.h"
#include "app/web_view_settings.h"
#include "bridge/bridge_server.h"
#include "bridge/program_pages.h"
#include "platform/service_host.h"
#include "platform/stderr_notice.h"
#include "platform/translation.h"

namespace zb {
namespace {
WebKitWebContext* gContext = nullptr;
std::string gExtensionsDir, gModuleDir, gSocketPath, gSecret, gWorkFolder;
ProgramPages gPages;
std::vector<CWebBrowser2*> gLive;  // views of windows, for the bridge's caller
WebKitWebView* gSpare = nullptr;   // a view whose web process is running, unused
guint gSpareSource = 0;

void OnInitializeWebExtensions(WebKitWebContext* ctx, gpointer) {
  webkit_web_context_set_web_extensions_directory(ctx, gExtensionsDir.c_str());
  webkit_web_context_set_web_extensions_initialization_user_data(
      ctx, WebExtensionData(gSocketPath, gModuleDir, gWorkFolder, GetServiceHost().BrowserPrefix(),
                            gSecret));
}

// ---------- The pages' address scheme ----------

// The one reader of the pages and their work files: what ProgramPages::Open
// hands over, whole or the one byte range asked for (an <audio> element
// seeks by ranges).
void ServePage(WebKitURISchemeRequest* request, gpointer pages) {
  const char* uri = webkit_uri_scheme_request_get_uri(request);
  ProgramPages::Opened file = static_cast<const ProgramPages*>(pages)->Open(uri ? uri : "");
  struct stat st;
  if (file.fd < 0 || ::fstat(file.fd, &st) != 0) {
    if (file.fd >= 0) ::close(file.fd);
    GError* error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_NOT_FOUND,
                                        Tr("Zimbrel has no file at this address"));
    webkit_uri_scheme_request_finish_error(request, error);
    g_error_free(error);
    return;
  }
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  SoupMessageHeaders* asked = webkit_uri_scheme_request_get_http_headers(request);
  const char* range = asked ? soup_message_headers_get_one(asked, "Range") : nullptr;
  uint64_t first = 0, last = 0;
  const bool partial = range && ParseByteRange(range, size, &first, &last);
  SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
  soup_message_headers_append(headers, "Accept-Ranges", "bytes");
  soup_message_headers_append(headers, "Cache-Control", "no-store");
  GInputStream* stream = nullptr;
  gint64 length = static_cast<gint64>(size);
  int status = 200;
  if (partial) {
    // At most 8 MiB a response: the element asks again for the rest.
    last = std::min(last, first + (8u << 20) - 1);
    std::string bytes(last - first + 1, '\0');
    ssize_t got = ::pread(file.fd, bytes.data(), bytes.size(), static_cast<off_t>(first));
    ::close(file.fd);
    bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
    last = first + bytes.size() - 1;
    length = static_cast<gint64>(bytes.size());
    GBytes* data = g_bytes_new(bytes.data(), bytes.size());
    stream = g_memory_input_stream_new_from_bytes(data);
    g_bytes_unref(data);
    status = 206;
    gchar* contentRange = g_strdup_printf("bytes %llu-%llu/%llu", (unsigned long long)first,
                                          (unsigned long long)last, (unsigned long long)size);
    soup_message_headers_append(headers, "Content-Range", contentRange);
    g_free(contentRange);
  } else {
    stream = g_unix_input_stream_new(file.fd, TRUE);
  }
  WebKitURISchemeResponse* response = webkit_uri_scheme_response_new(stream, length);
  g_object_unref(stream);
  webkit_uri_scheme_response_set_status(response, status, nullptr);
  webkit_uri_scheme_response_set_content_type(response, file.mime.c_str());
  webkit_uri_scheme_response_set_http_headers(response, headers);  // takes them
  webkit_uri_scheme_request_finish_with_response(request, response);
  g_object_unref(response);
}

}  // namespace

void RegisterPageScheme(WebKitWebContext* context, const ProgramPages* pages) {
  // Secure (nothing the pages load is mixed content), and fetched by the
  // pages as their own origin; not local, so a page of ours loads no file URL.
  webkit_web_context_register_uri_scheme(context, kPageScheme, ServePage,
                                         const_cast<ProgramPages*>(pages), nullptr);
  WebKitSecurityManager* security = webkit_web_context_get_security_manager(context);
  webkit_security_manager_register_uri_scheme_as_secure(security, kPageScheme);
  webkit_security_manager_register_uri_scheme_as_cors_enabled(security, kPageScheme);
}

namespace {

// ---------- Where views may go ----------

bool IsWeb(const char* uri) {
  return g_str_has_prefix(uri, "http://") || g_str_has_prefix(uri, "https://");
}

// What the user sees of an address in a box: a local file as its path.
std::string Shown(const char* uri) {
  gchar* path = g_filename_from_uri(uri, nullptr, nullptr);
  std::string s = path ? path : PathOfPageAddress(uri);
  if (s.empty()) s = uri;
  g_free(path);
  if (s.size() > 300) s = s.substr(0, 300) + "...";
  return s;
}

// Tells the user, once the main loop is free, that a page they asked for
// (a link they followed, a file they dropped) is not shown.
void ShowRefusalSoon(WebKitWebView* view, const std::string& what) {
  struct Refusal {
    WebKitWebView* view;
    std::string what;
  };
  static bool showing = false;  // one box at a time
  if (showing) return;
  showing = true;
  g_idle_add(
      +[](gpointer p) {
        auto* r = static_cast<Refusal*>(p);
        CWebBrowser2* b = CWebBrowser2::FromView(r->view);
        if (b && !CModalWindow::Ending())
          ShowMessageBox(b->owner(),
                         Tr("Zimbrel shows only its own pages, so it did not open this:") +
                             std::string("\n\n") + r->what,
                         AppName(), MB_OK | MB_ICONEXCLAMATION);
        showing = false;
        g_object_unref(r->view);
        delete r;
        return G_SOURCE_REMOVE;
      },
      new Refusal{WEBKIT_WEB_VIEW(g_object_ref(view)), what});
}

// Every view goes only where the program's pages are: its pages and
// about:blank load; a web address that the user follows opens in the
// default browser; anything else (another local file, a dropped file, data:,
// a redirect) is refused, with a box when the user asked for it.
gboolean DecideNavigation(WebKitWebView* view, WebKitPolicyDecision* decision,
                          WebKitPolicyDecisionType type, gpointer) {
  if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
    // Nothing is downloaded: what a view cannot show, it drops.
    WebKitURIResponse* response =
        webkit_response_policy_decision_get_response(WEBKIT_RESPONSE_POLICY_DECISION(decision));
    const char* mime = webkit_uri_response_get_mime_type(response);
    if (mime && webkit_web_view_can_show_mime_type(view, mime))
      webkit_policy_decision_use(decision);
    else
      webkit_policy_decision_ignore(decision);
    return TRUE;
  }
  WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
      WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
  if (!uri) uri = "";
  // A redirect can only come from a page of the web, which no view shows.
  if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
      !webkit_navigation_action_is_redirect(action) &&
      (std::strcmp(uri, "about:blank") == 0 || gPages.Contains(uri))) {
    webkit_policy_decision_use(decision);
    return TRUE;
  }
  webkit_policy_decision_ignore(decision);
  const WebKitNavigationType how = webkit_navigation_action_get_navigation_type(action);
  // WebKit loads a file dropped on a page that does not take the drop itself
  // as a navigation of no particular kind: the view notes when it had one.
  CWebBrowser2* b = CWebBrowser2::FromView(view);
  const bool dropped = how == WEBKIT_NAVIGATION_TYPE_OTHER && b && b->DroppedRecently();
  // Only the user's own click or key (or drop) counts: script clicking a
  // link or submitting a form is not the user.
  const bool byUser = webkit_navigation_action_is_user_gesture(action) || dropped;
  if (IsWeb(uri) && byUser && !webkit_navigation_action_is_redirect(action)) {
    OpenInDefaultBrowser(uri);
  } else if (byUser && type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) {
    ShowRefusalSoon(view, Shown(uri));
  } else {
    Notice("a page asked for " + Shown(uri).substr(0, 200) + ", which is not shown");
  }
  return TRUE;
}

WebKitWebView* NewView() {
  WebKitSettings* settings = NewViewSettings();
  auto* view = WEBKIT_WEB_VIEW(
      g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", gContext, "settings", settings, nullptr));
  g_object_unref(settings);
  g_object_ref_sink(view);  // its CWebBrowser2 (or the spare slot) holds it
  g_signal_connect(view, "decide-policy", G_CALLBACK(DecideNavigation), nullptr);
  return view;
}

void OnSpareTerminated(WebKitWebView* view, WebKitWebProcessTerminationReason, gpointer) {
  // A spare whose web process died is of no use; the next page load makes
  // another.
  if (view != gSpare) return;
  g_idle_add(
      +[](gpointer v) {
        if (gSpare == v) CWebBrowser2::DropSpare();
        return G_SOURCE_REMOVE;
      },
      view);
}

void MakeSpare() {
  if (gSpare || !gContext) return;
  gSpare = NewView();
  g_signal_connect(gSpare, "web-process-terminated", G_CALLBACK(OnSpareTerminated), nullptr);
  // Starts its web process; about:blank gets no external object, so the
  // spare never reaches the bridge.
  webkit_web_view_load_uri(gSpare, "about:blank");
}

// Once a page has loaded: a spare for the next page dialog, when the main
// loop has nothing else to do.
void PrepareSpareSoon() {
  if (gSpare || gSpareSource || !gContext) return;
  gSpareSource = g_idle_add_full(
      G_PRIORITY_LOW,
      +[](gpointer) {
        gSpareSource = 0;
        MakeSpare();
        return G_SOURCE_REMOVE;
      },
      nullptr, nullptr);
}

}  // namespace

void CWebBrowser2::ConfigureContext(const std::string& moduleDir, BridgeServer& bridge,
                                    const std::string& workFolder, bool sandbox,
                                    const std::string& whyNoSandbox) {
  gExtensionsDir = moduleDir + "/extensions";
  gModuleDir = moduleDir;
  gWorkFolder = workFolder;
  gSocketPath = bridge.SocketPath();
  gSecret = bridge.Secret();
  bridge.SetCallerFilter([](uint64_t pageId) { return FromPageId(pageId) != nullptr; });
  // The folder the pages' jobs write to and the <audio> element plays from
  // is never a page of ours; only its audio files are served.
  gPages = ProgramPages(moduleDir, workFolder);
  if (!gContext) {
    // The network process takes these when it starts (with the first view).
    WebKitMemoryPressureSettings* network = NewMemoryPressureSettings(kNetworkMemoryLimitMB);
    webkit_website_data_manager_set_memory_pressure_settings(network);
    webkit_memory_pressure_settings_free(network);
    WebKitMemoryPressureSettings* web = NewMemoryPressureSettings(kWebMemoryLimitMB);
    gContext = WEBKIT_WEB_CONTEXT(
        g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "memory-pressure-settings", web, nullptr));
    webkit_memory_pressure_settings_free(web);
    webkit_web_context_set_cache_model(gContext, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    // The pages speak the user's language (navigator.languages picks their
    // catalogue); with none but C they stay English.
    std::vector<std::string> languages = WebLanguages(g_get_language_names());
    if (!languages.empty()) {
      std::vector<const char*> list;
      for (const std::string& l : languages) list.push_back(l.c_str());
      list.push_back(nullptr);
      webkit_web_context_set_preferred_languages(gContext, list.data());
    }
    g_signal_connect(gContext, "initialize-web-extensions", G_CALLBACK(OnInitializeWebExtensions),
                     nullptr);
    RegisterPageScheme(gContext, &gPages);
    // Nothing is downloaded, in any view, whatever a page asks.
    g_signal_connect(gContext, "download-started",
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
    SetUpWebSandbox(gContext, sandbox, whyNoSandbox,
                    WebProcessSandboxPaths(moduleDir, bridge.Folder(), workFolder));
  }
}

std::string CWebBrowser2::PageAddress(const std::string& page) {
  return gPages.AddressFor(page);
}

CWebBrowser2::~CWebBrowser2() {
  gLive.erase(std::remove(gLive.begin(), gLive.end(), this), gLive.end());
  if (m_pendingTimer) g_source_remove(m_pendingTimer);
  if (m_view) {
    g_signal_handlers_disconnect_by_data(m_view, this);
    g_object_unref(m_view);  // its window, if it still has one, keeps it
  }
}

GtkWidget* CWebBrowser2::Create(GtkWindow* owner) {
  m_owner = owner;
  if (gSpare) {
    // The spare's web process is running (or starting): a plain view of its
    // own, never one related to a view whose script may be blocked.
    m_view = gSpare;
    gSpare = nullptr;
    m_fromSpare = true;
    g_signal_handlers_disconnect_by_func(m_view, reinterpret_cast<gpointer>(OnSpareTerminated),
                                         nullptr);
  } else {
    m_view = NewView();
  }
  gLive.push_back(this);
  g_signal_connect(m_view, "context-menu", G_CALLBACK(OnContextMenu), this);
  g_signal_connect(m_view, "key-press-event", G_CALLBACK(OnKeyPress), this);
  g_signal_connect(m_view, "script-dialog", G_CALLBACK(OnScriptDialog), this);
  g_signal_connect(m_view, "create", G_CALLBACK(OnCreate), this);
  g_signal_connect(m_view, "web-process-terminated", G_CALLBACK(OnWebProcessTerminated), this);
  g_signal_connect(m_view, "load-changed", G_CALLBACK(OnLoadChanged), this);
  // The user's own clicks and keys, each of which may open the browser once.
  g_signal_connect(m_view, "button-release-event",
                   G_CALLBACK(+[](GtkWidget*, GdkEventButton*, gpointer self) {
                     static_cast<CWebBrowser2*>(self)->NoteUserInput();
                     return FALSE;
                   }),
                   this);
  g_signal_connect(m_view, "drag-drop",
                   G_CALLBACK(+[](GtkWidget*, GdkDragContext*, gint, gint, guint, gpointer self) {
                     static_cast<CWebBrowser2*>(self)->m_dropTime = g_get_monotonic_time();
                     return FALSE;  // WebKit takes the drop on
                   }),
                   this);
  return GTK_WIDGET(m_view);
}

CWebBrowser2* CWebBrowser2::FromView(WebKitWebView* view) {
  for (CWebBrowser2* b : gLive)
    if (b->m_view == view) return b;
  return nullptr;
}

bool CWebBrowser2::DroppedRecently() const {
  return m_dropTime != 0 && g_get_monotonic_time() - m_dropTime < 3 * G_USEC_PER_SEC;
}

CWebBrowser2* CWebBrowser2::FromPageId(guint64 pageId) {
  for (CWebBrowser2* b : gLive)
    if (b->m_view && pageId != 0 && webkit_web_view_get_page_id(b->m_view) == pageId) return b;
  return nullptr;
}

void CWebBrowser2::DropSpare() {
  if (gSpareSource) g_source_remove(gSpareSource);
  gSpareSource = 0;
  if (!gSpare) return;
  WebKitWebView* spare = gSpare;
  gSpare = nullptr;
  g_signal_handlers_disconnect_by_func(spare, reinterpret_cast<gpointer>(OnSpareTerminated),
                                       nullptr);
  gtk_widget_destroy(GTK_WIDGET(spare));  // ends its web process
  g_object_unref(spare);
}

void CWebBrowser2::OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer) {
  if (event == WEBKIT_LOAD_FINISHED) PrepareSpareSoon();
}

void CWebBrowser2::Navigate2(const std::string& pageOrUrl) {
  if (!m_view) return;
  std::string uri = PageAddress(pageOrUrl);
  if (uri.empty()) {
    Notice("not a page of Zimbrel: " + pageOrUrl.substr(0, 200));
    uri = "about:blank";
  }
  if (m_fromSpare && !m_drawn) {
    // A spare view's page exists already. Once the view is shown, WebKit's
    // first drawing of it waits (up to half a second) until that page has
    // painted at the view's new size, which a page in the middle of a
    // navigation does not do. So the page loads once the view has been drawn
    // (at the latest after a fifth of a second, should it stay hidden).
    m_pendingUri = uri;
    if (!m_drawHandler)
      m_drawHandler = g_signal_connect_after(
          m_view, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t*, gpointer self) -> gboolean {
            static_cast<CWebBrowser2*>(self)->LoadPending();
            return FALSE;
          }),
          this);
    if (!m_pendingTimer)
      m_pendingTimer = g_timeout_add(
          200,
          +[](gpointer self) {
            auto* b = static_cast<CWebBrowser2*>(self);
            b->m_pendingTimer = 0;
            b->LoadPending();
            return G_SOURCE_REMOVE;
          },
          this);
    return;
  }
  webkit_web_view_load_uri(m_view, uri.c_str());
}

void CWebBrowser2::LoadPending() {
  m_drawn = true;
  if (m_drawHandler) g_signal_handler_disconnect(m_view, m_drawHandler);
  m_drawHandler = 0;
  if (m_pendingTimer) g_source_remove(m_pendingTimer);
  m_pendingTimer = 0;
  if (!m_pendingUri.empty()) webkit_web_view_load_uri(m_view, m_pendingUri.c_str());
  m_pendingUri.clear();
}

namespace {
struct MenuEntry {
  const char* label;
  int id;
};
const MenuEntry kContextMenu[] = {
    {N_("_Go to Homepage"), ID_GOTO_HOMEPAGE},
    {nullptr, 0},
    {N_("_Phone Compatibility Test"), ID_COMPATIBILITY},
    {N_("How to use the application"), ID_USAGE},
    {N_("_FAQ and Contact us"), ID_FAQ_CONTACT},
    {nullptr, 0},
    {N_("_About Zimbrel"), ID_APP_ABOUT},
};

// A chosen command, on its way to the view's runner.
struct PendingCommand {
  std::function<void(int)> run;
  int id;
};

void OnMenuItemActivate(GtkMenuItem* item, gpointer runner) {
  // Run the command once the menu has gone (it may open a modal dialog). The
  // runner is copied: the view may be gone by then.
  const auto& run = *static_cast<const std::function<void(int)>*>(runner);
  if (!run) return;
  auto* pending = new PendingCommand{
      run, GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), "zimbrel-command"))};
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      +[](gpointer p) {
        auto* c = static_cast<PendingCommand*>(p);
        c->run(c->id);
        return G_SOURCE_REMOVE;
      },
      pending, +[](gpointer p) { delete static_cast<PendingCommand*>(p); });
}
}  // namespace

gboolean CWebBrowser2::OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent* event,
                                     WebKitHitTestResult* hit, gpointer self) {
  if (webkit_hit_test_result_context_is_editable(hit) != 0) return FALSE;  // the edit menu
  auto* b = static_cast<CWebBrowser2*>(self);
  if (b->m_callbacks.menuAllowed && !b->m_callbacks.menuAllowed()) return TRUE;
  GtkWidget* menu = gtk_menu_new();
  for (const auto& e : kContextMenu) {
    GtkWidget* item =
        e.label ? gtk_menu_item_new_with_mnemonic(Tr(e.label)) : gtk_separator_menu_item_new();
    if (e.label) {
      g_object_set_data(G_OBJECT(item), "zimbrel-command", GINT_TO_POINTER(e.id));
      g_signal_connect(item, "activate", G_CALLBACK(OnMenuItemActivate),
                       &b->m_callbacks.runCommand);
    }
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
  }
  gtk_widget_show_all(menu);
  gtk_menu_attach_to_widget(GTK_MENU(menu), GTK_WIDGET(b->m_view), nullptr);
  g_signal_connect(menu, "deactivate", G_CALLBACK(+[](GtkMenuShell* m, gpointer) {
                     g_idle_add(
                         +[](gpointer w) {
                           gtk_widget_destroy(GTK_WIDGET(w));
                           return G_SOURCE_REMOVE;
                         },
                         m);
                   }),
                   nullptr);
  gtk_menu_popup_at_pointer(GTK_MENU(menu), event);
  return TRUE;
}

bool SwallowBrowserKey(guint keyval, GdkModifierType state, bool* f1) {
  *f1 = keyval == GDK_KEY_F1;
  const bool ctrl = state & GDK_CONTROL_MASK;
  const bool alt = state & GDK_MOD1_MASK;
  guint k = gdk_keyval_to_lower(keyval);
  if (ctrl && (k == GDK_KEY_c || k == GDK_KEY_v)) return false;  // copy and paste work
  switch (k) {
    case GDK_KEY_F5:
    case GDK_KEY_F3:
    case GDK_KEY_F6:
    case GDK_KEY_F7:
    case GDK_KEY_F11:
    case GDK_KEY_F12:
    case GDK_KEY_Back:
    case GDK_KEY_Forward:
    case GDK_KEY_Refresh:
    case GDK_KEY_Reload:
    case GDK_KEY_Print:
      return true;
    default:
      break;
  }
  if (ctrl) {
    switch (k) {
      case GDK_KEY_o:
      case GDK_KEY_p:
      case GDK_KEY_n:
      case GDK_KEY_r:
      case GDK_KEY_f:
      case GDK_KEY_s:
      case GDK_KEY_u:
      case GDK_KEY_w:
      case GDK_KEY_g:
      case GDK_KEY_t:
      case GDK_KEY_l:
      case GDK_KEY_d:
      case GDK_KEY_h:
      case GDK_KEY_j:
      case GDK_KEY_i:
      case GDK_KEY_plus:
      case GDK_KEY_minus:
      case GDK_KEY_equal:
      case GDK_KEY_0:
      case GDK_KEY_KP_Add:
      case GDK_KEY_KP_Subtract:
      case GDK_KEY_KP_0:
      case GDK_KEY_F4:
        return true;
      default:
        break;
    }
  }
  if (alt && (k == GDK_KEY_Left || k == GDK_KEY_Right || k == GDK_KEY_Home ||
              k == GDK_KEY_KP_Left || k == GDK_KEY_KP_Right))
    return true;
  return false;
}

bool KeyPressFromTheDisplay() {
  // WebKit hands a key that the page did not take back to the view's
  // handlers a second time, from its own message source; a key the user
  // pressed comes from GDK's event source, whatever its time (virtual
  // keyboards and some input methods send 0).
  GSource* source = g_main_current_source();
  const char* name = source ? g_source_get_name(source) : nullptr;
  return name && g_str_has_prefix(name, "GDK ");
}

void CWebBrowser2::NoteUserInput() {
  if (!KeyPressFromTheDisplay()) return;
  m_inputTime = g_get_monotonic_time();
}

bool CWebBrowser2::TakeUserInput() {
  const bool fresh = m_inputTime != 0 && g_get_monotonic_time() - m_inputTime < 2 * G_USEC_PER_SEC;
  m_inputTime = 0;
  return fresh;
}

gboolean CWebBrowser2::OnKeyPress(GtkWidget*, GdkEventKey* ev, gpointer self) {
  auto* b = static_cast<CWebBrowser2*>(self);
  b->NoteUserInput();
  bool f1 = false;
  bool swallow = SwallowBrowserKey(ev->keyval, static_cast<GdkModifierType>(ev->state), &f1);
  // The help file opens once per key press. An input method may also hand a
  // key back through GDK's queue, with the key's own time (when it has one).
  if (f1 && b->m_callbacks.openHelp && KeyPressFromTheDisplay() &&
      (ev->time == 0 || ev->time != b->m_lastF1Time)) {
    b->m_lastF1Time = ev->time;
    b->m_callbacks.openHelp();
  }
  return swallow ? TRUE : FALSE;
}

gboolean CWebBrowser2::OnScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer self) {
  auto* b = static_cast<CWebBrowser2*>(self);
  const char* msg = webkit_script_dialog_get_message(dialog);
  // The program's caption and an OK button, whatever the page asked for; a
  // confirmation hands back no choice (it stays "not confirmed").
  ShowMessageBox(b->m_owner, msg ? msg : "", "  Zimbrel", MB_OK);
  return TRUE;
}

GtkWidget* CWebBrowser2::OnCreate(WebKitWebView*, WebKitNavigationAction*, gpointer) {
  return nullptr;  // no new browser windows
}

void CWebBrowser2::OnWebProcessTerminated(WebKitWebView* view, WebKitWebProcessTerminationReason,
                                          gpointer self) {
  // Reload once after a crash; a page that keeps crashing shows WebKit's
  // crash state instead.
  auto* b = static_cast<CWebBrowser2*>(self);
  if (b->m_crashReloads++ < 1) webkit_web_view_reload(view);
}

}  // namespace zb
