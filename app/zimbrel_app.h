// The application object: start-up, and the pieces that live as long as the
// program runs.
//
// Who owns what:
// - CZimbrelApp owns, for the length of InitInstance, the bridge server that
//   serves the web processes, the web context (WebContext: the WebKit
//   context, the page scheme, the navigation policy, the spare view), the
//   main window (CZimbrelDlg), the application core (CoreHost) and the
//   scripting object (CExternalDispatch), each in a std::unique_ptr.
//   InitInstance makes the scripting object, the bridge and the web context
//   first, then the main window and the core, whose front end the window is.
//   Once the main window's run is over, the core ends the tool children, and
//   the five end in the reverse order of their declaration below: the
//   scripting object first (it asks for the core on every call, and gets
//   null from then on), then the core (which closes the settings store), the
//   main window with its views, the web context (after every view of it) and
//   the bridge last (the views use it to their end). InitInstance ends them
//   explicitly in that order, since the program may leave by _exit while job
//   threads run.
// - The core owns the profile, the job state, the command-line file, the
//   dialog value, the work folder and the CD access; it asks the main window
//   for what needs the display (core/front_end.h).
// - The main window owns its web view, and the page dialog it shows while
//   that runs; it runs the commands of every view (app/app_commands.h).
// - A web view (CWebBrowser2) owns its WebKit view, lives in the web context
//   it is made with, and is handed, when it is made, what it may ask of the
//   program (ViewCallbacks); it reaches nothing else.
// - The modal runs are ModalWindow's: which window is innermost, whether a
//   page dialog is open, the program's end.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/web_context.h"

namespace zb {

class BridgeServer;
class CExternalDispatch;
class CoreHost;
class CZimbrelDlg;

class CZimbrelApp {
 public:
  CZimbrelApp();
  ~CZimbrelApp();
  CZimbrelApp(const CZimbrelApp&) = delete;
  CZimbrelApp& operator=(const CZimbrelApp&) = delete;

  // Runs start-up, the main window and the end; returns the process exit
  // code.
  int InitInstance(int argc, char** argv);
  // The name the running program holds on the session bus.
  static const char kApplicationId[];

 private:
  // Ends the five owners below in the order they must end (the reverse of
  // their declaration).
  void EndAll();

  std::unique_ptr<BridgeServer> m_bridge;
  std::unique_ptr<WebContext> m_webContext;
  std::unique_ptr<CZimbrelDlg> m_mainWnd;
  std::unique_ptr<CoreHost> m_core;
  std::unique_ptr<CExternalDispatch> m_scriptingObject;
  std::optional<std::string> m_handedOver;  // a song handed over during start-up
};

}  // namespace zb
