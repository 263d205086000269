// The environment the program sets for itself before GTK starts, and what it
// keeps from the programs it opens for the user.
#include "app/process_environment.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>

#include "temp_dir.h"

namespace zb {
namespace {

using testing::TempDir;

// Each test leaves the environment as it found it: other tests of this
// program open the display.
class ProcessEnvironment : public ::testing::Test {
 protected:
  void SetUp() override { m_saved = g_get_environ(); }
  void TearDown() override {
    gchar** now = g_get_environ();
    for (gchar** v = now; *v; ++v) {
      const std::string name(*v, std::strcspn(*v, "="));
      if (!g_environ_getenv(m_saved, name.c_str())) g_unsetenv(name.c_str());
    }
    g_strfreev(now);
    for (gchar** v = m_saved; *v; ++v)
      if (const char* eq = std::strchr(*v, '='))
        g_setenv(std::string(*v, static_cast<size_t>(eq - *v)).c_str(), eq + 1, TRUE);
    g_strfreev(m_saved);
  }

 private:
  gchar** m_saved = nullptr;
};

TEST_F(ProcessEnvironment, TheFirstRenderNodeOrItsUsualNameWhenThereIsNone) {
  TempDir dri;
  EXPECT_EQ(RenderNodeFor(dri.Path()), dri.Path() + "/renderD128");
  EXPECT_EQ(RenderNodeFor(dri.Path() + "/missing"), dri.Path() + "/missing/renderD128");
  for (const char* name : {"card0", "renderD130", "renderD129", "renderDx", "renderD", "by-path"})
    std::ofstream(dri.Path() + "/" + name) << "";
  EXPECT_EQ(RenderNodeFor(dri.Path()), dri.Path() + "/renderD129");
}

// A Unix socket listening at `path` while it lives.
class Listener {
 public:
  explicit Listener(const std::string& path) {
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    path.copy(a.sun_path, sizeof a.sun_path - 1);
    m_ok = ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(m_fd, 4) == 0;
  }
  ~Listener() { ::close(m_fd); }
  bool Ok() const { return m_ok; }

 private:
  int m_fd = -1;
  bool m_ok = false;
};

TEST_F(ProcessEnvironment, PredictsTheDisplayGdkOpens) {
  TempDir runtime;
  Listener compositor(runtime.Path() + "/wayland-7");
  ASSERT_TRUE(compositor.Ok());
  { Listener gone(runtime.Path() + "/wayland-stale"); }  // its socket file stays
  g_setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), TRUE);
  g_setenv("DISPLAY", ":5", TRUE);
  g_unsetenv("WAYLAND_SOCKET");
  struct Case {
    const char* backend;  // GDK_BACKEND, null: unset
    const char* wayland;  // WAYLAND_DISPLAY, null: unset
    bool expected;
  } cases[] = {
      {nullptr, "wayland-7", true},
      {"*", "wayland-7", true},
      {"wayland", "wayland-7", true},
      {"x11", "wayland-7", false},
      {"x11,wayland", "wayland-7", false},
      {"wayland,x11", "wayland-stale", false},  // nobody listens: X11
      {nullptr, "wayland-missing", false},
      {nullptr, nullptr, false},  // wayland-0 is not there
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.backend ? c.backend : "(unset)") + " " +
                 (c.wayland ? c.wayland : "(unset)"));
    auto set = [](const char* name, const char* value) {
      if (value)
        g_setenv(name, value, TRUE);
      else
        g_unsetenv(name);
    };
    set("GDK_BACKEND", c.backend);
    set("WAYLAND_DISPLAY", c.wayland);
    EXPECT_EQ(DisplayWillBeWayland(), c.expected);
  }
  // An absolute socket path; X11 listed first but no X display to open.
  g_setenv("WAYLAND_DISPLAY", (runtime.Path() + "/wayland-7").c_str(), TRUE);
  g_setenv("GDK_BACKEND", "x11,wayland", TRUE);
  g_unsetenv("DISPLAY");
  EXPECT_TRUE(DisplayWillBeWayland());
  // Without XDG_RUNTIME_DIR GDK does not try Wayland at all.
  g_unsetenv("XDG_RUNTIME_DIR");
  g_unsetenv("GDK_BACKEND");
  EXPECT_FALSE(DisplayWillBeWayland());
  g_unsetenv("WAYLAND_DISPLAY");
}

TEST_F(ProcessEnvironment, SetsWhatTheUserLeftUnsetAndOpenedProgramsDoNotGetIt) {
  // The user's own choices stand (a session bus among them, so no search runs).
  g_setenv("GDK_GL", "always", TRUE);
  g_setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", TRUE);
  g_unsetenv("WEBKIT_DISABLE_DMABUF_RENDERER");
  g_setenv("WEBKIT_WEB_RENDER_DEVICE_FILE", "", TRUE);  // empty counts as unset
  g_unsetenv("JSC_useJIT");
  g_setenv("GDK_BACKEND", "x11", TRUE);  // the render node is named on X11 only
  g_setenv("DISPLAY", ":5", TRUE);
  const ProgramEnvironment environment = PrepareProcessEnvironment();
  EXPECT_STREQ(g_getenv("GDK_GL"), "always");
  EXPECT_STREQ(g_getenv("DBUS_SESSION_BUS_ADDRESS"), "unix:path=/nonexistent/bus");
  EXPECT_STREQ(g_getenv("WEBKIT_DISABLE_DMABUF_RENDERER"), "1");
  EXPECT_EQ(std::string(g_getenv("WEBKIT_WEB_RENDER_DEVICE_FILE")), RenderNodeFor("/dev/dri"));
  EXPECT_STREQ(g_getenv("JSC_useJIT"), "false");
  const auto& set = environment.variablesSet;
  EXPECT_EQ(set, (std::vector<std::string>{"WEBKIT_DISABLE_DMABUF_RENDERER",
                                           "WEBKIT_WEB_RENDER_DEVICE_FILE", "JSC_useJIT"}));

  // A program started through GIO gets the environment without them.
  GAppLaunchContext* ctx = NewLaunchContext(environment);
  ASSERT_NE(ctx, nullptr);
  gchar** env = g_app_launch_context_get_environment(ctx);
  auto has = [&](const char* name) { return g_environ_getenv(env, name) != nullptr; };
  EXPECT_FALSE(has("WEBKIT_DISABLE_DMABUF_RENDERER"));
  EXPECT_FALSE(has("WEBKIT_WEB_RENDER_DEVICE_FILE"));
  EXPECT_FALSE(has("JSC_useJIT"));
  EXPECT_TRUE(has("GDK_GL"));  // the user's, passed on
  EXPECT_TRUE(has("DBUS_SESSION_BUS_ADDRESS"));
  g_strfreev(env);
  g_object_unref(ctx);
}

}  // namespace
}  // namespace zb
