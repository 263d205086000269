#include "app/process_environment.h"

#include <gdk/gdk.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

namespace zb {
namespace {

void SetUnlessSet(ProgramEnvironment& environment, const char* name, const std::string& value) {
  const char* now = g_getenv(name);
  if (now && *now) return;  // the user's choice stands
  if (g_setenv(name, value.c_str(), TRUE)) environment.variablesSet.emplace_back(name);
}

// Whether a Wayland compositor accepts connections where libwayland looks
// for one: WAYLAND_SOCKET, or the socket WAYLAND_DISPLAY (default
// "wayland-0") names, relative to XDG_RUNTIME_DIR unless absolute.
bool WaylandCompositorReachable() {
  const char* runtime = g_getenv("XDG_RUNTIME_DIR");
  if (!runtime || !*runtime) return false;  // GDK does not try Wayland then
  const char* sock = g_getenv("WAYLAND_SOCKET");
  if (sock && *sock) return true;
  const char* name = g_getenv("WAYLAND_DISPLAY");
  if (!name || !*name) name = "wayland-0";
  std::string path = name[0] == '/' ? name : std::string(runtime) + "/" + name;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return false;
  path.copy(addr.sun_path, path.size());
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

bool DisplayWillBeWayland() {
  // GDK tries the backends GDK_BACKEND lists, in order ("*", the default:
  // Wayland, then X11) and takes the first that opens.
  const char* list = g_getenv("GDK_BACKEND");
  gchar** backends = g_strsplit(list && *list ? list : "*", ",", 0);
  bool wayland = false;
  for (gchar** b = backends; *b; ++b) {
    if (g_str_equal(*b, "*")) {
      wayland = WaylandCompositorReachable();
      break;
    }
    if (g_str_equal(*b, "wayland")) {
      if ((wayland = WaylandCompositorReachable())) break;
      continue;
    }
    const char* x = g_getenv("DISPLAY");
    if (!g_str_equal(*b, "x11") || (x && *x)) break;  // that backend opens
  }
  g_strfreev(backends);
  return wayland;
}

std::string RenderNodeFor(const std::string& driDir) {
  long best = LONG_MAX;
  if (GDir* dir = g_dir_open(driDir.c_str(), 0, nullptr)) {
    while (const char* name = g_dir_read_name(dir)) {
      if (std::strncmp(name, "renderD", 7) != 0 || !g_ascii_isdigit(name[7])) continue;
      char* end = nullptr;
      long n = std::strtol(name + 7, &end, 10);
      if (end && *end == '\0' && n < best) best = n;
    }
    g_dir_close(dir);
  }
  return driDir + "/renderD" + std::to_string(best == LONG_MAX ? 128 : best);
}

ProgramEnvironment PrepareProcessEnvironment() {
  ProgramEnvironment environment;
  SetUnlessSet(environment, "GDK_GL", "disable");
  SetUnlessSet(environment, "WEBKIT_DISABLE_DMABUF_RENDERER", "1");
  // Under Wayland WebKit draws through an EGL display of the UI process:
  // with no render device to probe, every view made after the first draws
  // its page at a wrong scale (too large under mutter, at 0 x 0 under sway).
  if (!DisplayWillBeWayland())
    SetUnlessSet(environment, "WEBKIT_WEB_RENDER_DEVICE_FILE", RenderNodeFor("/dev/dri"));
  // The pages' scripts are small and mostly wait for the program: the
  // interpreter serves them, and each web process is spared the JIT's memory
  // (its options are read from the environment when the process starts).
  SetUnlessSet(environment, "JSC_useJIT", "false");
  const char* bus = g_getenv("DBUS_SESSION_BUS_ADDRESS");
  if (!bus || !*bus) {
    // The accessibility bridge (libdbus), GTK and WebKit (GDBus) would each
    // run this search; with no address set, each search may start
    // dbus-launch. Found once, all of them and the web processes use it.
    // The search starts GLib's worker thread, which only waits in its main
    // loop meanwhile (it reads no environment): this variable comes last.
    if (gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
      if (*address && g_setenv("DBUS_SESSION_BUS_ADDRESS", address, TRUE))
        environment.variablesSet.emplace_back("DBUS_SESSION_BUS_ADDRESS");
      g_free(address);
    }
  }
  return environment;
}

GAppLaunchContext* NewLaunchContext(const ProgramEnvironment& environment) {
  GAppLaunchContext* ctx = nullptr;
  if (GdkDisplay* display = gdk_display_get_default())
    ctx = G_APP_LAUNCH_CONTEXT(gdk_display_get_app_launch_context(display));
  if (!ctx) ctx = g_app_launch_context_new();
  // The session bus address stays: it names the bus the program would find.
  for (const std::string& name : environment.variablesSet)
    if (name != "DBUS_SESSION_BUS_ADDRESS") g_app_launch_context_unsetenv(ctx, name.c_str());
  return ctx;
}

void OpenInDefaultBrowser(const ProgramEnvironment& environment, const std::string& url) {
  GAppInfo* browser = g_app_info_get_default_for_uri_scheme("http");
  if (!browser) return;
  GList* uris = g_list_append(nullptr, const_cast<char*>(url.c_str()));
  GAppLaunchContext* ctx = NewLaunchContext(environment);
  g_app_info_launch_uris(browser, uris, ctx, nullptr);
  g_object_unref(ctx);
  g_list_free(uris);
  g_object_unref(browser);
}

}  // namespace zb
