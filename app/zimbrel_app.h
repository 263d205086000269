// The application object: start-up, and the pieces that live as long as the
// program runs.
//
// Who owns what:
// - CZimbrelApp owns, for the length of InitInstance, the scripting object
//   (CExternalDispatch), the bridge server that serves it to the web
//   processes, and the main window (CZimbrelDlg). They are made in that order
//   and ended in the reverse one, the scripting object before the main window
//   (it asks for the main window on every call, and gets null once it has
//   gone), the bridge last (the main window's web views use it to the end).
// - The main window owns the application core it derives from (core/), its
//   web view, and the page dialog it shows while that runs; it runs the
//   commands of every view (app/app_commands.h).
// - CZimbrelApp owns the web context (WebContext: the WebKit context, the
//   page scheme, the navigation policy, the spare view), made after the
//   bridge and ended after the main window, before the bridge.
// - A web view (CWebBrowser2) owns its WebKit view, lives in the web context
//   it is made with, and is handed, when it is made, what it may ask of the
//   program (ViewCallbacks); it reaches nothing else.
// - The modal runs are CModalWindow's: which window is innermost, whether a
//   page dialog is open, the program's end.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/web_context.h"

namespace zb {

class CExternalDispatch;
class CZimbrelDlg;
class BridgeServer;

class CZimbrelApp {
 public:
  // Runs start-up, the main window and the end; returns the process exit
  // code.
  int InitInstance(int argc, char** argv);
  // The name the running program holds on the session bus.
  static const char kApplicationId[];

 private:
  CExternalDispatch* m_scriptingObject = nullptr;
  CZimbrelDlg* m_mainWnd = nullptr;  // the main window while it runs
  BridgeServer* m_bridge = nullptr;
  std::unique_ptr<WebContext> m_webContext;  // ends after the main window, before the bridge
  std::optional<std::string> m_handedOver;   // a song handed over during start-up
};

}  // namespace zb
