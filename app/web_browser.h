// CWebBrowser2: the web view of a window (WebKitGTK) with the control site's
// behaviour: the program's context menu (app/context_menu.h), browser keys
// swallowed and F1 (app/view_keys.h), script dialogs under the program's
// caption, no new windows, one reload after its web process crashes, and
// window.external through the web process extension. Where it may go is the
// navigation policy's (app/navigation_policy.h).
//
// Every view gets its own web process (never a related view: a page
// dialog's page must run while its opener's script is blocked in a call);
// the first view made after a page has loaded takes the spare one
// (app/spare_view.h). Views are known to their WebContext by their web page
// id, which the bridge learns from each connection, so a request's view is
// known.
#pragma once

#include <webkit2/webkit2.h>

#include <functional>
#include <string>

namespace zb {

class WebContext;

// What a view may ask of the program, given when the view is made. Each may
// be empty (the view then does without).
struct ViewCallbacks {
  // A command of app/app_commands.h chosen in the view's context menu; run
  // once the menu has gone.
  std::function<void(int command)> runCommand;
  // F1 in the view: opens the help file (once per key press).
  std::function<void()> openHelp;
  // Whether the view's context menu may open now (the program's menu, not
  // the edit menu of a text field, which always opens).
  std::function<bool()> menuAllowed;
};

class CWebBrowser2 {
 public:
  // `context` must outlive the view.
  CWebBrowser2(WebContext& context, ViewCallbacks callbacks)
      : m_context(context), m_callbacks(std::move(callbacks)) {}
  ~CWebBrowser2();
  CWebBrowser2(const CWebBrowser2&) = delete;
  CWebBrowser2& operator=(const CWebBrowser2&) = delete;

  // Creates the view (taking the spare one when there is one); `owner` is the
  // window whose modal boxes it shows, which may be set later.
  GtkWidget* Create(GtkWindow* owner);
  void SetOwner(GtkWindow* owner) { m_owner = owner; }
  GtkWindow* Owner() const { return m_owner; }
  // The WebKit view, null until Create.
  WebKitWebView* View() const { return m_view; }
  // The web context the view lives in.
  WebContext& Context() const { return m_context; }
  // Navigates to a page of res/ (WebContext::PageAddress); anything else
  // shows about:blank, with a line on standard error.
  void Navigate2(const std::string& pageOrUrl);

  // Whether something was dropped on the view in the last few seconds.
  bool DroppedRecently() const;
  // Whether the user clicked or pressed a key in the view in the last two
  // seconds, and no call has taken that input yet: a page's call may open
  // the browser only on such an input, once.
  bool TakeUserInput();

 private:
  static gboolean OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*,
                                gpointer self);
  static gboolean OnKeyPress(GtkWidget*, GdkEventKey*, gpointer self);
  static gboolean OnScriptDialog(WebKitWebView*, WebKitScriptDialog*, gpointer self);
  static GtkWidget* OnCreate(WebKitWebView*, WebKitNavigationAction*, gpointer);
  static void OnWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason,
                                     gpointer self);
  static void OnLoadChanged(WebKitWebView*, WebKitLoadEvent, gpointer self);
  // A view taken from the spare loads its first page once it has been drawn.
  void LoadPending();
  // Notes a click or key from the display (not one WebKit hands back).
  void NoteUserInput();

  WebContext& m_context;
  ViewCallbacks m_callbacks;
  WebKitWebView* m_view = nullptr;
  GtkWindow* m_owner = nullptr;
  int m_crashReloads = 0;
  bool m_fromSpare = false;
  bool m_drawn = false;
  std::string m_pendingUri;
  gulong m_drawHandler = 0;
  guint m_pendingTimer = 0;
  guint32 m_lastF1Time = 0;
  gint64 m_dropTime = 0;   // monotonic time of the last drop on the view
  gint64 m_inputTime = 0;  // of the user's last click or key, until a call takes it
};

}  // namespace zb
