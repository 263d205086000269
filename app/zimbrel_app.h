// The application object: start-up, and the pieces that live as long as the
// program runs.
//
// Who owns what:
// - CZimbrelApp keeps what the program set in its own environment
//   (ProgramEnvironment, made in main before GTK starts) as a value, and owns,
//   each in a std::unique_ptr: the modal runs (ModalRuns: which window is
//   innermost, whether a page dialog is open, the program's end), the program
//   end (ProgramEnd: signals and the display going away end the modal runs),
//   the bridge server that serves the web processes, the web context
//   (WebContext: the WebKit context, the page scheme, the navigation policy,
//   the spare view), the main window (CZimbrelDlg), the application core
//   (CoreHost) and the scripting object (CExternalDispatch).
//   InitInstance makes the modal runs and the program end first, then the
//   scripting object, the bridge and the web context, then the main window
//   and the core, whose front end the window is. The environment and the
//   modal runs are given by reference to what opens programs and to what
//   runs or ends modal runs (windows, boxes, the navigation policy, the job
//   box).
//   Once the main window's run is over, the core ends the tool children, and
//   InitInstance ends five of the owners explicitly, in the reverse order of
//   their declaration below, since the program may leave by _exit while job
//   threads run: the scripting object first (it asks for the core on every
//   call, and gets null from then on), then the core (which closes the
//   settings store), the main window with its views, the web context (after
//   every view of it) and the bridge (the views use it to their end). The
//   program end and the modal runs end after them, with the application
//   object, so that a signal or the display going away while those five end
//   does not end the process; the program end first (its sources and the
//   display's data name the runs), the modal runs last.
// - The core owns the profile, the job state, the command-line file, the
//   dialog value, the work folder and the CD access; it asks the main window
//   for what needs the display (core/front_end.h).
// - The main window owns its web view, the window icon (which the page
//   dialogs it opens show too), and the page dialog it shows while that runs;
//   it runs the commands of every view (app/app_commands.h).
// - A web view (CWebBrowser2) owns its WebKit view, lives in the web context
//   it is made with, and is handed, when it is made, what it may ask of the
//   program (ViewCallbacks); it reaches nothing else.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/process_environment.h"
#include "app/web_context.h"

namespace zb {

class BridgeServer;
class CExternalDispatch;
class CoreHost;
class CZimbrelDlg;
class ModalRuns;
class ProgramEnd;

class CZimbrelApp {
 public:
  // `environment`: what main set in the program's environment.
  explicit CZimbrelApp(ProgramEnvironment environment);
  ~CZimbrelApp();
  CZimbrelApp(const CZimbrelApp&) = delete;
  CZimbrelApp& operator=(const CZimbrelApp&) = delete;

  // Runs start-up, the main window and the end; returns the process exit
  // code.
  int InitInstance(int argc, char** argv);
  // The name the running program holds on the session bus.
  static const char kApplicationId[];

 private:
  // Ends the five owners from the bridge on in the order they must end (the
  // reverse of their declaration).
  void EndAll();

  const ProgramEnvironment m_environment;
  std::unique_ptr<ModalRuns> m_modalRuns;
  std::unique_ptr<ProgramEnd> m_programEnd;
  std::unique_ptr<BridgeServer> m_bridge;
  std::unique_ptr<WebContext> m_webContext;
  std::unique_ptr<CZimbrelDlg> m_mainWnd;
  std::unique_ptr<CoreHost> m_core;
  std::unique_ptr<CExternalDispatch> m_scriptingObject;
  std::optional<std::string> m_handedOver;  // a song handed over during start-up
};

}  // namespace zb
