#include "app/zimbrel_app.h"

#include <gtk/gtk.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>

#include "app/command_line.h"
#include "app/message_box.h"
#include "app/modal_runs.h"
#include "app/process_environment.h"
#include "app/program_end.h"
#include "app/web_context.h"
#include "app/web_sandbox.h"
#include "app/zimbrel_dlg.h"
#include "bridge/bridge_server.h"
#include "bridge/external_dispatch.h"
#include "core/core_host.h"
#include "platform/module_dir.h"
#include "platform/stderr_notice.h"
#include "platform/translation.h"
#include "platform/work_folder.h"

namespace zb {

namespace {
// Shows a box for a job thread on the main thread, as a run among `runs`, and
// waits until it closes.
void ShowBoxFromJob(ModalRuns& runs, const std::string& text) {
  struct Request {
    ModalRuns* runs;
    std::string text;
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
  };
  auto req = std::make_shared<Request>();
  req->runs = &runs;
  req->text = text;
  // GLib takes a raw pointer: the holder is the source's from here on, and
  // its destroy notify deletes it, whether the callback ran or not.
  auto holder = std::make_unique<std::shared_ptr<Request>>(req);
  g_main_context_invoke_full(
      nullptr, G_PRIORITY_DEFAULT,
      +[](gpointer p) {
        auto r = *static_cast<std::shared_ptr<Request>*>(p);
        // The request component's failure box: no owner window.
        ShowMessageBox(*r->runs, nullptr, Tr(r->text), Tr("Fatal Error"), MB_OK | MB_ICONHAND);
        std::lock_guard<std::mutex> lock(r->m);
        r->done = true;
        r->cv.notify_all();
        return G_SOURCE_REMOVE;
      },
      holder.release(), +[](gpointer p) { delete static_cast<std::shared_ptr<Request>*>(p); });
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

CZimbrelApp::CZimbrelApp(ProgramEnvironment environment) : m_environment(std::move(environment)) {}

CZimbrelApp::~CZimbrelApp() {
  EndAll();
}

void CZimbrelApp::EndAll() {
  m_scriptingObject.reset();
  m_core.reset();
  m_mainWnd.reset();
  m_webContext.reset();
  m_bridge.reset();
}

int CZimbrelApp::InitInstance(int argc, char** argv) {
  m_modalRuns = std::make_unique<ModalRuns>();
  m_programEnd = std::make_unique<ProgramEnd>(*m_modalRuns);
  m_programEnd->EndOnSignals();
  // The arguments as the system hands them over; the switch is dropped, and
  // the user learns why nothing was chosen.
  CCommandLineParser parser(std::vector<std::string>(argv, argv + argc));
  std::string switchText, value;
  parser.Parse(switchText, value);
  if (const std::string& dropped = parser.SwitchArgument(); !dropped.empty())
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
                     if (app->m_mainWnd && app->m_mainWnd->Running())
                       app->m_mainWnd->StartOver(song);
                     else if (app->m_core)
                       app->m_core->SetCommandLineFile(song);
                     else
                       app->m_handedOver = song;
                   }),
                   this);
  g_signal_connect(single, "activate", G_CALLBACK(+[](GApplication*, gpointer self) {
                     auto* app = static_cast<CZimbrelApp*>(self);
                     if (app->m_mainWnd && app->m_mainWnd->Running()) app->m_mainWnd->Present();
                   }),
                   this);

  // GTK reads no options from our command line: every argument is ours.
  if (!gtk_init_check(nullptr, nullptr)) {
    Notice("cannot open the display");
    return 1;
  }
  m_programEnd->EndWhenTheDisplayGoes();
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
  m_scriptingObject = std::make_unique<CExternalDispatch>([this] { return m_core.get(); });
  m_bridge = std::make_unique<BridgeServer>(m_scriptingObject.get());
  if (!m_bridge->Start()) Notice("cannot create the page bridge");
  m_webContext = std::make_unique<WebContext>(moduleDir, *m_bridge, work.path,
                                              sandboxProbe.Finish(), *m_modalRuns, m_environment);

  m_mainWnd = std::make_unique<CZimbrelDlg>(moduleDir, *m_modalRuns, *m_webContext, m_environment);
  // The core opens the profile (its trace lines come first).
  m_core = std::make_unique<CoreHost>(moduleDir, *m_mainWnd);
  m_mainWnd->AttachCore(*m_core);
  m_core->SetWorkFolder(WorkFolder(moduleDir, work.path));
  // Job threads may outlive the core: the box reaches the runs on the main
  // loop only, which no longer runs once this object ends them.
  m_core->SetJobMessageBox(
      [runs = m_modalRuns.get()](const std::string& text) { ShowBoxFromJob(*runs, text); });
  m_core->SetCommandLineFile(m_handedOver ? *m_handedOver : value);  // one handed over wins
  m_core->RecordStart();
  m_mainWnd->DoModal();
  // The name goes with the window: a start from now on runs on its own.
  g_signal_handlers_disconnect_by_data(single, this);
  g_object_unref(single);
  m_webContext->DropSpare();
  // No tool child outlives the window.
  m_core->EndTools();
  EndAll();
  std::fflush(stdout);
  // Job threads are not waited for; leave without running exit handlers
  // under them.
  if (CoreHost::JobsRunning()) ::_exit(0);
  return 0;
}

}  // namespace zb

int main(int argc, char** argv) {
  // Before GTK and any thread.
  zb::ProgramEnvironment environment = zb::PrepareProcessEnvironment();
  // GTK sets the locale too; the native strings' catalogues are found from
  // the program's folder.
  std::setlocale(LC_ALL, "");
  zb::BindTextDomain(zb::ModuleDirectory());
  zb::CZimbrelApp app(std::move(environment));
  return app.InitInstance(argc, argv);
}
