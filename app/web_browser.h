// CWebBrowser2: the web view of a window (WebKitGTK) with the control site's
// behaviour: the program's context menu, browser keys swallowed, script
// dialogs under the program's caption, window.external through the web
// process extension. Every view gets its own web process.
#pragma once

#include <webkit2/webkit2.h>

#include <string>

namespace zb {

class CWebBrowser2 {
 public:
  CWebBrowser2() = default;
  ~CWebBrowser2();
  CWebBrowser2(const CWebBrowser2&) = delete;
  CWebBrowser2& operator=(const CWebBrowser2&) = delete;

  // Creates the view; `owner` is the window whose modal boxes it shows.
  GtkWidget* Create(GtkWindow* owner);
  GtkWidget* widget() const { return GTK_WIDGET(m_view); }
  bool exists() const { return m_view != nullptr; }
  // Navigates to an absolute file path or a URL.
  void Navigate2(const std::string& pageOrUrl);

  // The one web context: extension folder and bridge socket (set once).
  static void ConfigureContext(const std::string& moduleDir, const std::string& socketPath);
  static std::string ToUri(const std::string& pageOrUrl);

 private:
  static gboolean OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*,
                                gpointer self);
  static gboolean OnKeyPress(GtkWidget*, GdkEventKey*, gpointer self);
  static gboolean OnScriptDialog(WebKitWebView*, WebKitScriptDialog*, gpointer self);
  static GtkWidget* OnCreate(WebKitWebView*, WebKitNavigationAction*, gpointer);
  static void OnWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason,
                                     gpointer self);

  WebKitWebView* m_view = nullptr;
  GtkWindow* m_owner = nullptr;
  int m_crashReloads = 0;
  guint32 m_lastF1Time = 0;
};

// Key filter of every web view: true when the key must not reach the page.
// `f1` is set when the key is F1 (the caller opens the help file, then the
// key goes on).
bool SwallowBrowserKey(guint keyval, GdkModifierType state, bool* f1);

}  // namespace zb
