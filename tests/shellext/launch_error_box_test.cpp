// The GTK 4 launch error box, for real, on an X server of the test's own
// (Xvfb). GTK runs in a fresh copy of this test program (re-executed with a
// filter), so no GTK state stays behind in the process that runs the other
// tests.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "shellext/dovetril_ids.h"
#include "shellext/dovetril_module.h"
#include "shellext/file_drop.h"
#include "shellext/message_box.h"
#include "shellext_test_support.h"

extern char** environ;

namespace zb {
namespace {

constexpr char kChildVar[] = "ZB_BOX_TEST_CHILD";

bool InChild() {
  return std::getenv(kChildVar) != nullptr;
}

// An Xvfb on a free display, stopped (and reaped) when the object goes.
class Xvfb {
 public:
  Xvfb() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 3);  // dup2 clears close-on-exec
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {"Xvfb",    "-displayfd", "3",          "-nolisten", "tcp",
                          "-screen", "0",          "800x600x24", nullptr};
    if (posix_spawnp(&pid_, "Xvfb", &fa, nullptr, const_cast<char**>(argv), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    std::string number;
    pollfd p = {fds[0], POLLIN, 0};
    while (pid_ > 0 && poll(&p, 1, 20000) == 1) {
      char c;
      if (read(fds[0], &c, 1) != 1 || c == '\n') break;
      number.push_back(c);
    }
    close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
  }
  ~Xvfb() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

// Runs this test (by name) in a fresh copy of the program with `env` added;
// its exit status.
int RunChild(const std::string& env) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string filter =
      std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
  std::string cmd =
      env + " " + kChildVar + "=1 /proc/" + std::to_string(getpid()) + "/exe '" + filter + "' >&2";
  int status = std::system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What the box showed, seen from the GTK side.
struct Seen {
  std::string title, text;
  GtkMessageType type = GTK_MESSAGE_OTHER;
  bool okButton = false, cancelButton = false, modal = false;
  int polls = 0;
};

GtkWidget* FindMessageDialog() {
  GListModel* tops = gtk_window_get_toplevels();
  for (guint i = 0; i < g_list_model_get_n_items(tops); ++i) {
    auto* w = static_cast<GtkWidget*>(g_list_model_get_item(tops, i));
    g_object_unref(w);  // the list keeps it
    if (GTK_IS_MESSAGE_DIALOG(w) && gtk_widget_get_visible(w)) return w;
  }
  return nullptr;
}

// Looks at the shown box and presses its OK button, as a user would.
gboolean AnswerBox(gpointer data) {
  auto* seen = static_cast<Seen*>(data);
  GtkWidget* dialog = FindMessageDialog();
  if (!dialog) return ++seen->polls < 500 ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
  seen->title = gtk_window_get_title(GTK_WINDOW(dialog));
  gchar* text = nullptr;
  g_object_get(dialog, "text", &text, "message-type", &seen->type, nullptr);
  seen->text = text ? text : "";
  g_free(text);
  seen->modal = gtk_window_get_modal(GTK_WINDOW(dialog));
  GtkWidget* ok = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  seen->okButton = ok != nullptr;
  seen->cancelButton =
      gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL) != nullptr;
  if (ok)
    gtk_widget_activate(ok);
  else
    gtk_window_close(GTK_WINDOW(dialog));
  return G_SOURCE_REMOVE;
}

const char kExpectedText[] =
    "An error occured while trying to launch Zimbrel!           \n"
    "If this problem persists, please re-install the application.\n\n"
    "Click OK to continue.";

TEST(LaunchErrorBoxTest, HandlerShowsTheBoxAndReturnsSFalseAfterOk) {
  if (!InChild()) {
    Xvfb x;
    if (x.display().empty()) GTEST_SKIP() << "Xvfb could not be started";
    zb::testing::TempDir dir;
    EXPECT_EQ(RunChild("DISPLAY=" + x.display() +
                       " GSK_RENDERER=cairo ASAN_OPTIONS=detect_leaks=0 ZIMBREL_REGISTRY_DIR=" +
                       dir.path()),
              0);
    return;
  }
  // The child: a handler whose program is missing, with the real box.
  ASSERT_TRUE(gtk_init_check());
  IClassFactory* factory = nullptr;
  ASSERT_EQ(DllGetClassObject(dovetril::CLSID_DovetrilShl, IID_IClassFactory,
                              reinterpret_cast<void**>(&factory)),
            S_OK);
  IShellExtInit* init = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init)),
            S_OK);
  factory->Release();
  IDataObject* data = CreateFileDropDataObject({"/m/a.mp3"});
  ASSERT_EQ(init->Initialize(nullptr, data, nullptr), S_OK);
  data->Release();
  IContextMenu* menu = nullptr;
  ASSERT_EQ(init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu)), S_OK);

  Seen seen;
  g_timeout_add(20, AnswerBox, &seen);
  CMINVOKECOMMANDINFO info = {};
  info.cbSize = sizeof info;
  info.lpVerb = MAKEINTRESOURCEA(0);
  EXPECT_EQ(menu->InvokeCommand(&info), S_FALSE);
  EXPECT_EQ(seen.title, "Fatal Error");
  EXPECT_EQ(seen.text, kExpectedText);
  EXPECT_TRUE(seen.okButton);
  EXPECT_FALSE(seen.cancelButton);
  EXPECT_TRUE(seen.modal);
  EXPECT_EQ(seen.type, GTK_MESSAGE_OTHER);  // MB_OK: no icon
  menu->Release();
  init->Release();
}

TEST(LaunchErrorBoxTest, ClosingTheBoxAnswersOkAndCancelOnlyWithACancelButton) {
  if (!InChild()) {
    Xvfb x;
    if (x.display().empty()) GTEST_SKIP() << "Xvfb could not be started";
    EXPECT_EQ(
        RunChild("DISPLAY=" + x.display() + " GSK_RENDERER=cairo ASAN_OPTIONS=detect_leaks=0"), 0);
    return;
  }
  ASSERT_TRUE(gtk_init_check());
  auto closeBox = [](gpointer) -> gboolean {
    GtkWidget* d = FindMessageDialog();
    if (!d) return G_SOURCE_CONTINUE;
    gtk_window_close(GTK_WINDOW(d));
    return G_SOURCE_REMOVE;
  };
  g_timeout_add(20, closeBox, nullptr);
  EXPECT_EQ(MessageBoxW(nullptr, u"text", u"caption", MB_OK), IDOK);
  g_timeout_add(20, closeBox, nullptr);
  EXPECT_EQ(MessageBoxW(nullptr, u"text", u"caption", MB_OKCANCEL), IDCANCEL);
}

TEST(LaunchErrorBoxTest, WithoutADisplayTheTextGoesToStandardError) {
  if (!InChild()) {
    EXPECT_EQ(RunChild("env -u DISPLAY -u WAYLAND_DISPLAY"), 0);
    return;
  }
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxW(nullptr, u"Something failed", u"Fatal Error", MB_OK), IDOK);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Fatal Error: Something failed"), std::string::npos) << err;
}

}  // namespace
}  // namespace zb
