// The spare view: once a page has loaded, a web view with its own web
// process is prepared while the main loop has nothing else to do. It shows
// about:blank, which gets no external object, so it never reaches the
// bridge. The next view a window creates (a page dialog's) takes it and so
// skips starting a web process. A spare whose web process ends is dropped;
// the next page load prepares another.
#pragma once

#include <webkit2/webkit2.h>

#include <functional>

namespace zb {

class SpareView {
 public:
  // `makeView` makes a new view of the program's context with the program's
  // settings and policy, and hands over its one reference.
  explicit SpareView(std::function<WebKitWebView*()> makeView) : m_makeView(std::move(makeView)) {}
  // Drop().
  ~SpareView();
  SpareView(const SpareView&) = delete;
  SpareView& operator=(const SpareView&) = delete;

  // Prepares a spare at low priority, unless one is there or on its way.
  void PrepareSoon();
  // The spare (its reference goes to the caller), or null when there is none
  // or its web process has ended.
  WebKitWebView* Take();
  // Ends the spare and its web process, and one on its way.
  void Drop();

 private:
  static void OnTerminated(WebKitWebView* view, WebKitWebProcessTerminationReason, gpointer self);
  void Make();
  // Hands over the spare's reference, its signals disconnected.
  WebKitWebView* Release();

  std::function<WebKitWebView*()> m_makeView;
  WebKitWebView* m_view = nullptr;  // a view whose web process runs, unused
  guint m_makeSource = 0;           // makes the spare once the main loop is idle
  guint m_dropSource = 0;           // drops a spare whose web process ended
};

}  // namespace zb
