#include "app/zimbrel_app.h"

#include <gtk/gtk.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "app/command_line.h"
#include "app/message_box.h"
#include "app/process_environment.h"
#include "app/program_end.h"
#include "app/web_sandbox.h"
#include "app/zimbrel_dlg.h"
#include "bridge/bridge_server.h"
#include "bridge/external_dispatch.h"
#include "jobs/job_state.h"
#include "media/tool_runner.h"
#include "platform/module_dir.h"
#include "platform/stderr_notice.h"
#include "platform/work_folder.h"

namespace zb {

namespace {
// Shows a box for a job thread on the main thread and waits until it closes.
void ShowBoxFromJob(const std::string& text) {
  struct Request {
    std::string text;
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
  };
  auto req = std::make_shared<Request>();
  req->text = text;
  auto* holder = new std::shared_ptr<Request>(req);
  g_main_context_invoke_full(
      nullptr, G_PRIORITY_DEFAULT,
      +[](gpointer p) {
        auto r = *static_cast<std::shared_ptr<Request>*>(p);
        // The request component's failure box: no owner window.
        ShowMessageBox(nullptr, r->text, "Fatal Error", MB_OK | MB_ICONHAND);
        std::lock_guard<std::mutex> lock(r->m);
        r->done = true;
        r->cv.notify_all();
        return G_SOURCE_REMOVE;
      },
      holder, +[](gpointer p) { delete static_cast<std::shared_ptr<Request>*>(p); });
  std::unique_lock<std::mutex> lock(req->m);
  req->cv.wait(lock, [&] { return req->done; });
}
}  // namespace

int CZimbrelApp::InitInstance(int argc, char** argv) {
  EndOnSignals();
  // The arguments as the system hands them over; the switch is dropped, and
  // the user learns why nothing was chosen.
  CCommandLineParser parser(std::vector<std::string>(argv, argv + argc));
  std::string switchText, value;
  parser.Parse(switchText, value);
  if (const std::string& dropped = parser.switchArgument(); !dropped.empty())
    std::fputs(IgnoredSwitchNotice(dropped, ::access(dropped.c_str(), F_OK) == 0).c_str(), stderr);

  // Whether WebKit's sandbox can run here: tried in a child started before
  // GTK starts threads, answered while GTK starts.
  WebSandboxProbe sandboxProbe;
  sandboxProbe.Start();

  // GTK reads no options from our command line: every argument is ours.
  if (!gtk_init_check(nullptr, nullptr)) {
    Notice("cannot open the display");
    return 1;
  }
  EndWhenTheDisplayGoes();
  const std::string moduleDir = ModuleDirectory();
  // The user's own work folder; when none can be made, the pages' work files
  // still map to where it would be, and the jobs report that they cannot
  // write there.
  const WorkFolderChoice work = ChooseUserWorkFolder();
  if (!work.usable) Notice("cannot make a private work folder (" + work.path + ")");
  m_scriptingObject = new CExternalDispatch([this]() -> CoreHost* { return m_mainWnd; });
  auto* bridge = new BridgeServer(m_scriptingObject);
  m_bridge = bridge;
  if (!bridge->Start()) Notice("cannot create the page bridge");
  std::string whyNoSandbox;
  const bool sandbox = sandboxProbe.Finish(&whyNoSandbox);
  CWebBrowser2::ConfigureContext(moduleDir, *bridge, work.path, sandbox, whyNoSandbox);

  auto* dlg = new CZimbrelDlg(moduleDir);
  dlg->setWorkFolder(WorkFolder(moduleDir, work.path));
  dlg->setCommandLineFile(value);
  dlg->jobs()->showMessageBox = ShowBoxFromJob;
  m_mainWnd = dlg;
  dlg->DoModal();
  CWebBrowser2::DropSpare();
  // No tool child outlives the window: every ffmpeg and mp3gain still
  // running is ended and reaped, and what it half wrote is removed.
  media::EndAllChildren(900);

  m_mainWnd = nullptr;
  delete m_scriptingObject;
  m_scriptingObject = nullptr;
  delete dlg;  // closes the settings store
  delete bridge;
  m_bridge = nullptr;
  std::fflush(stdout);
  // Job threads are not waited for; leave without running exit handlers
  // under them.
  if (jobs::RunningJobThreads() > 0) ::_exit(0);
  return 0;
}

}  // namespace zb

int main(int argc, char** argv) {
  zb::PrepareProcessEnvironment();  // before GTK and any thread
  zb::CZimbrelApp app;
  return app.InitInstance(argc, argv);
}
