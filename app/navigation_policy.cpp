#include "app/navigation_policy.h"

#include <string_view>

#include "app/app_commands.h"
#include "app/message_box.h"
#include "app/modal_runs.h"
#include "app/process_environment.h"
#include "app/web_browser.h"
#include "bridge/program_pages.h"
#include "platform/stderr_notice.h"
#include "platform/translation.h"

namespace zb {
namespace {

bool IsWeb(std::string_view uri) {
  return uri.starts_with("http://") || uri.starts_with("https://");
}

}  // namespace

NavigationChoice DecideNavigation(const NavigationRequest& request, const ProgramPages& pages) {
  // A redirect can only come from a page of the web, which no view shows.
  if (!request.newWindow && !request.redirect &&
      (request.uri == "about:blank" || pages.Contains(request.uri)))
    return NavigationChoice::kLoad;
  if (IsWeb(request.uri) && request.byUser && !request.redirect)
    return NavigationChoice::kOpenInBrowser;
  if (request.byUser && !request.newWindow) return NavigationChoice::kRefuseWithBox;
  return NavigationChoice::kRefuseQuietly;
}

std::string ShownAddress(const std::string& uri) {
  gchar* path = g_filename_from_uri(uri.c_str(), nullptr, nullptr);
  std::string s = path ? path : PathOfPageAddress(uri);
  if (s.empty()) s = uri;
  g_free(path);
  if (s.size() > 300) s = s.substr(0, 300) + "...";
  return s;
}

NavigationPolicy::~NavigationPolicy() {
  if (m_refusalSource) g_source_remove(m_refusalSource);
}

void NavigationPolicy::Apply(WebKitWebView* view) {
  g_signal_connect(view, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
}

gboolean NavigationPolicy::OnDecidePolicy(WebKitWebView* view, WebKitPolicyDecision* decision,
                                          WebKitPolicyDecisionType type, gpointer self) {
  auto* policy = static_cast<NavigationPolicy*>(self);
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
  NavigationRequest request;
  request.uri = uri ? uri : "";
  request.newWindow = type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION;
  request.redirect = webkit_navigation_action_is_redirect(action) != 0;
  // WebKit loads a file dropped on a page that does not take the drop itself
  // as a navigation of no particular kind: the view notes when it had one.
  // Only the user's own click or key (or drop) counts: script clicking a link
  // or submitting a form is not the user.
  CWebBrowser2* browser = policy->m_viewOf(view);
  const bool dropped =
      webkit_navigation_action_get_navigation_type(action) == WEBKIT_NAVIGATION_TYPE_OTHER &&
      browser && browser->DroppedRecently();
  request.byUser = webkit_navigation_action_is_user_gesture(action) || dropped;

  const NavigationChoice choice = DecideNavigation(request, policy->m_pages);
  if (choice == NavigationChoice::kLoad) {
    webkit_policy_decision_use(decision);
    return TRUE;
  }
  webkit_policy_decision_ignore(decision);
  switch (choice) {
    case NavigationChoice::kOpenInBrowser:
      OpenInDefaultBrowser(policy->m_environment, request.uri);
      break;
    case NavigationChoice::kRefuseWithBox:
      policy->ShowRefusalSoon(view, ShownAddress(request.uri));
      break;
    default:
      Notice("a page asked for " + ShownAddress(request.uri).substr(0, 200) +
             ", which is not shown");
      break;
  }
  return TRUE;
}

void NavigationPolicy::ShowRefusalSoon(WebKitWebView* view, const std::string& what) {
  struct Refusal {
    NavigationPolicy* policy;
    WebKitWebView* view;  // a reference of its own
    std::string what;
  };
  if (m_refusalShowing) return;
  m_refusalShowing = true;
  m_refusalSource = g_idle_add_full(
      G_PRIORITY_DEFAULT_IDLE,
      +[](gpointer p) {
        auto* r = static_cast<Refusal*>(p);
        NavigationPolicy* policy = r->policy;
        policy->m_refusalSource = 0;
        CWebBrowser2* browser = policy->m_viewOf(r->view);
        if (browser && !policy->m_runs.Ending())
          ShowMessageBox(policy->m_runs, browser->Owner(),
                         Tr("Zimbrel shows only its own pages, so it did not open this:") +
                             std::string("\n\n") + r->what,
                         AppName(), MB_OK | MB_ICONEXCLAMATION);
        policy->m_refusalShowing = false;
        return G_SOURCE_REMOVE;
      },
      new Refusal{this, WEBKIT_WEB_VIEW(g_object_ref(view)), what},
      +[](gpointer p) {
        auto* r = static_cast<Refusal*>(p);
        g_object_unref(r->view);
        delete r;
      });
}

}  // namespace zb
