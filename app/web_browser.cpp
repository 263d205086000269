#include "app/web_browser.h"

#include "app/context_menu.h"
#include "app/message_box.h"
#include "app/view_keys.h"
#include "app/web_context.h"
#include "platform/stderr_notice.h"

namespace zb {

CWebBrowser2::~CWebBrowser2() {
  m_context.RemoveView(this);
  if (m_pendingTimer) g_source_remove(m_pendingTimer);
  if (m_view) {
    g_signal_handlers_disconnect_by_data(m_view, this);
    g_object_unref(m_view);  // its window, if it still has one, keeps it
  }
}

GtkWidget* CWebBrowser2::Create(GtkWindow* owner) {
  m_owner = owner;
  if (m_view) return GTK_WIDGET(m_view);
  m_view = m_context.TakeView(&m_fromSpare);
  m_context.AddView(this);
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

bool CWebBrowser2::DroppedRecently() const {
  return m_dropTime != 0 && g_get_monotonic_time() - m_dropTime < 3 * G_USEC_PER_SEC;
}

void CWebBrowser2::OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
  if (event == WEBKIT_LOAD_FINISHED) static_cast<CWebBrowser2*>(self)->m_context.PageLoaded();
}

void CWebBrowser2::Navigate2(const std::string& pageOrUrl) {
  if (!m_view) return;
  std::string uri = m_context.PageAddress(pageOrUrl);
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

gboolean CWebBrowser2::OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent* event,
                                     WebKitHitTestResult* hit, gpointer self) {
  if (webkit_hit_test_result_context_is_editable(hit) != 0) return FALSE;  // the edit menu
  auto* b = static_cast<CWebBrowser2*>(self);
  if (b->m_callbacks.menuAllowed && !b->m_callbacks.menuAllowed()) return TRUE;
  PopUpContextMenu(GTK_WIDGET(b->m_view), event, b->m_callbacks.runCommand);
  return TRUE;
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
  ShowMessageBox(b->m_context.Runs(), b->m_owner, msg ? msg : "", "  Zimbrel", MB_OK);
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
