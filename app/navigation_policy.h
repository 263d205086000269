// Where a web view may go. Every view shows only the program's pages: its
// pages in res/ (by the program's own scheme, bridge/program_pages.h) and
// about:blank load; a web address the user follows (a click, a key, a drop)
// opens in the default browser; anything else (another local file, a dropped
// file, data:, a redirect, a new window) is refused, with a box when the user
// asked for it and a line on standard error when script did. Nothing is
// downloaded: a response a view cannot show is dropped.
#pragma once

#include <webkit2/webkit2.h>

#include <functional>
#include <string>

namespace zb {

class CWebBrowser2;
class ModalRuns;
class ProgramPages;
struct ProgramEnvironment;

// What a view does with an address it is asked to go to.
enum class NavigationChoice {
  kLoad,           // the view shows it
  kOpenInBrowser,  // the default browser shows it; the view stays
  kRefuseWithBox,  // not shown; the user, who asked for it, is told in a box
  kRefuseQuietly,  // not shown; a line on standard error
};

// A request to go somewhere, as WebKit describes it.
struct NavigationRequest {
  std::string uri;
  bool newWindow = false;  // a new window asked for, not a navigation of the view
  bool redirect = false;   // the server of the page before answered with a redirect
  bool byUser = false;     // the user's own click, key or drop (not script alone)
};

// The choice for `request` in a view of the program whose pages are `pages`.
NavigationChoice DecideNavigation(const NavigationRequest& request, const ProgramPages& pages);

// What the user is shown of an address: a local file or a page of ours as its
// path, anything else as it is; at most 300 bytes and "...".
std::string ShownAddress(const std::string& uri);

// The policy on WebKit's views: answers their "decide-policy" signal and
// shows the refusal boxes, one at a time.
class NavigationPolicy {
 public:
  // `viewOf` gives the live view of a WebKit view (null for one no window
  // shows, such as the spare view). The refusal boxes are runs among `runs`;
  // the browser opens without what the program set in `environment`.
  // `pages`, `runs` and `environment` must outlive the policy.
  NavigationPolicy(const ProgramPages& pages, std::function<CWebBrowser2*(WebKitWebView*)> viewOf,
                   ModalRuns& runs, const ProgramEnvironment& environment)
      : m_pages(pages), m_viewOf(std::move(viewOf)), m_runs(runs), m_environment(environment) {}
  // Drops a refusal box not shown yet.
  ~NavigationPolicy();
  NavigationPolicy(const NavigationPolicy&) = delete;
  NavigationPolicy& operator=(const NavigationPolicy&) = delete;

  // Puts the policy on `view`; the policy must outlive it.
  void Apply(WebKitWebView* view);

 private:
  static gboolean OnDecidePolicy(WebKitWebView* view, WebKitPolicyDecision* decision,
                                 WebKitPolicyDecisionType type, gpointer self);
  // Tells the user, once the main loop is free, that what they asked for
  // (`what`, as ShownAddress gives it) is not shown, above the view's window
  // if that view is still shown then. While a box is waiting or open, further
  // refusals show none.
  void ShowRefusalSoon(WebKitWebView* view, const std::string& what);

  const ProgramPages& m_pages;
  std::function<CWebBrowser2*(WebKitWebView*)> m_viewOf;
  ModalRuns& m_runs;
  const ProgramEnvironment& m_environment;
  bool m_refusalShowing = false;  // a box is waiting for the main loop or open
  guint m_refusalSource = 0;      // the idle source that will show it
};

}  // namespace zb
