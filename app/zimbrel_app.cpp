#include "app/zimbrel_app.h"

#include <gtk/gtk.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>

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
#include "platform/translation.h"
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
        ShowMessageBox(nullptr, Tr(r->text), Tr("Fatal Error"), MB_OK | MB_ICONHAND);
        std::lock_guard<std::mutex> lock(r->m);
        r->done = true;
        r->cv.notify_all();
        return G_SOURCE_REMOVE;
      },
      holder, +[](gpointer p) { delete static_cast<std::shared_ptr<Request>*>(p); });
  std::unique_lock<std::mutex> lock(req->m);
  req->cv.wait(lock, [&] { return req->done; });
}
// Whether a session bus is there to ask: its address is given (an address
// set empty says there is none), or the user's runtime folder holds its
// socket. (GLib would otherwise start a bus of its own for the display,
// which would outlive the program.)
bool SessionBusThere() {
  if (const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS")) return *address != '\0';
  const char* runtime = g_getenv("XDG_RUNTIME_DIR");
  if (!runtime || *runtime != '/') return false;
  struct stat st;
  return ::stat((std::string(runtime) + "/bus").c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// A file named on the command line, as the running program gets it: an
// absolute path (it runs in another folder).
GFile* FileToHandOver(const std::string& value) {
  if (!value.empty() && value[0] == '/') return g_file_new_for_path(value.c_str());
  gchar* cwd = g_get_current_dir();
  gchar* path = g_build_filename(cwd, value.c_str(), nullptr);
  GFile* file = g_file_new_for_path(path);
  g_free(path);
  g_free(cwd);
  return file;
}
}  // namespace

const char CZimbrelApp::kApplicationId[] = "org.zimbrel.Zimbrel";

int CZimbrelApp::InitInstance(int argc, char** argv) {
  EndOnSignals();
  // The arguments as the system hands them over; the switch is dropped, and
  // the user learns why nothing was chosen.
  CCommandLineParser parser(std::vector<std::string>(argv, argv + argc));
  std::string switchText, value;
  parser.Parse(switchText, value);
  if (const std::string& dropped = parser.switchArgument(); !dropped.empty())
    Notice(IgnoredSwitchNotice(dropped, ::access(dropped.c_str(), F_OK) == 0));

  // Whether WebKit's sandbox can run here: tried in a child started before
  // GTK starts threads, answered while GTK starts.
  WebSandboxProbe sandboxProbe;
  sandboxProbe.Start();

  // One program per user: a second start hands its file (or, without one,
  // just itself) to the running program, which comes to the front, and ends.
  // Without a session bus each program runs alone, on a work folder of its
  // own.
  const bool bus = SessionBusThere();
  GApplication* single = g_application_new(
      kApplicationId, bus ? G_APPLICATION_HANDLES_OPEN : G_APPLICATION_NON_UNIQUE);
  GError* error = nullptr;
  if (bus && !g_application_register(single, nullptr, &error)) {
    Notice(std::string("cannot tell whether Zimbrel runs already (") + error->message + ")");
    g_clear_error(&error);
  }
  if (bus && g_application_get_is_registered(single) && g_application_get_is_remote(single)) {
    if (value.empty()) {
      g_application_activate(single);
    } else {
      GFile* file = FileToHandOver(value);
      g_application_open(single, &file, 1, "");
      g_object_unref(file);
    }
    if (GDBusConnection* c = g_application_get_dbus_connection(single))
      g_dbus_connection_flush_sync(c, nullptr, nullptr);
    g_object_unref(single);
    return 0;
  }
  const bool alone = !bus || !g_application_get_dbus_connection(single);
  // A later start's song: the window comes to the front and starts over
  // with it. One that comes while this program starts is its song instead.
  g_signal_connect(single, "open",
                   G_CALLBACK(+[](GApplication*, GFile** files, gint n, gchar*, gpointer self) {
                     auto* app = static_cast<CZimbrelApp*>(self);
                     gchar* path = n > 0 ? g_file_get_path(files[0]) : nullptr;
                     const std::string song = path ? path : "";
                     g_free(path);
                     if (app->m_mainWnd && app->m_mainWnd->running())
                       app->m_mainWnd->StartOver(song);
                     else if (app->m_mainWnd)
                       app->m_mainWnd->setCommandLineFile(song);
                     else
                       app->m_handedOver = song;
                   }),
                   this);
  g_signal_connect(single, "activate", G_CALLBACK(+[](GApplication*, gpointer self) {
                     auto* app = static_cast<CZimbrelApp*>(self);
                     if (app->m_mainWnd && app->m_mainWnd->running()) app->m_mainWnd->Present();
                   }),
                   this);

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
  WorkFolderChoice work = ChooseUserWorkFolder();
  if (!work.usable) Notice("cannot make a private work folder (" + work.path + ")");
  // A program that may run beside others works in a folder of its own.
  RunWorkFolder runFolder;
  if (alone && work.usable) {
    if (runFolder.Make(work.path))
      work.path = runFolder.Path();
    else
      Notice("cannot make a work folder of this program's own in " + work.path);
  }
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
  if (m_handedOver) dlg->setCommandLineFile(*m_handedOver);  // came during start-up
  dlg->DoModal();
  // The name goes with the window: a start from now on runs on its own.
  g_signal_handlers_disconnect_by_data(single, this);
  g_object_unref(single);
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
  // GTK sets the locale too; the native strings' catalogues are found from
  // the program's folder.
  std::setlocale(LC_ALL, "");
  zb::BindTextDomain(zb::ModuleDirectory());
  zb::CZimbrelApp app;
  return app.InitInstance(argc, argv);
}
