// CWebBrowser2: the web view of a window (WebKitGTK) with the control site's
// behaviour: the program's context menu, browser keys swallowed, script
// dialogs under the program's caption, window.external through the web
// process extension. Every view gets its own web process (never a related
// view: a page dialog's page must run while its opener's script is blocked in
// a call).
//
// Every view goes only where the program's pages are (a navigation policy on
// each view): the program's pages in res/, by the program's own address
// scheme (bridge/program_pages.h), and about:blank load; a web address the
// user follows opens in the default browser; anything else is refused, with
// a box when the user asked for it. No view reads file URLs: the pages and
// the work files they play come through the scheme. Nothing is downloaded.
//
// The spare view: once a page has loaded, a view with its own web process is
// prepared in the background (it shows about:blank, which gets no external
// object); the next view created, a page dialog's, takes it and so skips
// starting a web process. Views are known by their web page id, which the
// bridge learns from each connection, so a request's view is known.
#pragma once

#include <webkit2/webkit2.h>

#include <functional>
#include <string>

namespace zb {

class BridgeServer;
class ProgramPages;

// Registers the program's page scheme on `context`, answered from `pages`
// (which must outlive the context): the one reader of the pages and of the
// work files they play, whole or by byte ranges.
void RegisterPageScheme(WebKitWebContext* context, const ProgramPages* pages);

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
  explicit CWebBrowser2(ViewCallbacks callbacks) : m_callbacks(std::move(callbacks)) {}
  ~CWebBrowser2();
  CWebBrowser2(const CWebBrowser2&) = delete;
  CWebBrowser2& operator=(const CWebBrowser2&) = delete;

  // Creates the view (taking the spare one when there is one); `owner` is the
  // window whose modal boxes it shows, which may be set later.
  GtkWidget* Create(GtkWindow* owner);
  void SetOwner(GtkWindow* owner) { m_owner = owner; }
  GtkWindow* owner() const { return m_owner; }
  GtkWidget* widget() const { return GTK_WIDGET(m_view); }
  bool exists() const { return m_view != nullptr; }
  // Navigates to a page of res/ (PageAddress); anything else shows
  // about:blank, with a line on standard error.
  void Navigate2(const std::string& pageOrUrl);

  // The one web context (set once): extension folder, bridge socket and
  // secret, the memory-pressure settings of the web and network processes,
  // and WebKit's sandbox when `sandbox` (else `whyNoSandbox` goes to standard
  // error). Pages that no window shows (a closed dialog's page still running)
  // may not use the bridge. The pages' loads of res/tmp/<name> are served
  // from `workFolder` (audio files only).
  static void ConfigureContext(const std::string& moduleDir, BridgeServer& bridge,
                               const std::string& workFolder, bool sandbox,
                               const std::string& whyNoSandbox);
  // The address of ours for a page of res/ named by a file path (absolute or
  // relative to the working folder), a file URL or an address of ours; ""
  // when it names anything else (ProgramPages::AddressFor).
  static std::string PageAddress(const std::string& page);

  // The live view whose web page has that id, or null (the spare is not one).
  static CWebBrowser2* FromPageId(guint64 pageId);
  // The live view of that WebKit view, or null.
  static CWebBrowser2* FromView(WebKitWebView* view);
  // Whether something was dropped on the view in the last few seconds.
  bool DroppedRecently() const;
  // Whether the user clicked or pressed a key in the view in the last two
  // seconds, and no call has taken that input yet: a page's call may open
  // the browser only on such an input, once.
  bool TakeUserInput();
  // Ends the spare view and its web process (at exit).
  static void DropSpare();

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

// Key filter of every web view: true when the key must not reach the page.
// `f1` is set when the key is F1 (the caller opens the help file, then the
// key goes on).
bool SwallowBrowserKey(guint keyval, GdkModifierType state, bool* f1);
// True when the key press being handled comes from the display (GDK's event
// source), not from WebKit handing back a key the page did not take.
bool KeyPressFromTheDisplay();

}  // namespace zb
