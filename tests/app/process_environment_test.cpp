// The environment the program sets for itself before GTK starts, and what it
// keeps from the programs it opens for the user.
#include "app/process_environment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "temp_dir.h"

namespace zb {
namespace {

using testing::TempDir;

TEST(ProcessEnvironment, TheFirstRenderNodeOrItsUsualNameWhenThereIsNone) {
  TempDir dri;
  EXPECT_EQ(RenderNodeFor(dri.path()), dri.path() + "/renderD128");
  EXPECT_EQ(RenderNodeFor(dri.path() + "/missing"), dri.path() + "/missing/renderD128");
  for (const char* name : {"card0", "renderD130", "renderD129", "renderDx", "renderD", "by-path"})
    std::ofstream(dri.path() + "/" + name) << "";
  EXPECT_EQ(RenderNodeFor(dri.path()), dri.path() + "/renderD129");
}

TEST(ProcessEnvironment, SetsWhatTheUserLeftUnsetAndOpenedProgramsDoNotGetIt) {
  // The user's own choices stand (a session bus among them, so no search runs).
  g_setenv("GDK_GL", "always", TRUE);
  g_setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus", TRUE);
  g_unsetenv("WEBKIT_DISABLE_DMABUF_RENDERER");
  g_setenv("WEBKIT_WEB_RENDER_DEVICE_FILE", "", TRUE);  // empty counts as unset
  g_unsetenv("JSC_useJIT");
  PrepareProcessEnvironment();
  EXPECT_STREQ(g_getenv("GDK_GL"), "always");
  EXPECT_STREQ(g_getenv("DBUS_SESSION_BUS_ADDRESS"), "unix:path=/nonexistent/bus");
  EXPECT_STREQ(g_getenv("WEBKIT_DISABLE_DMABUF_RENDERER"), "1");
  EXPECT_EQ(std::string(g_getenv("WEBKIT_WEB_RENDER_DEVICE_FILE")), RenderNodeFor("/dev/dri"));
  EXPECT_STREQ(g_getenv("JSC_useJIT"), "false");
  const auto& set = VariablesSetForThisProgram();
  EXPECT_EQ(set, (std::vector<std::string>{"WEBKIT_DISABLE_DMABUF_RENDERER",
                                           "WEBKIT_WEB_RENDER_DEVICE_FILE", "JSC_useJIT"}));

  // A program started through GIO gets the environment without them.
  GAppLaunchContext* ctx = NewLaunchContext();
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
