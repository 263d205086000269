#include "app/web_sandbox.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <gdk/gdkx.h>
#include <glib/gstdio.h>

#include "platform/stderr_notice.h"

namespace zb {
namespace {

// The programs WebKit runs for its sandbox (the paths it was built with).
constexpr char kBwrap[] = "/usr/bin/bwrap";
constexpr char kDbusProxy[] = "/usr/bin/xdg-dbus-proxy";

// Child exit codes of the probe.
enum : int { kNamespaceOk = 0, kNoUserNamespace = 10, kNoIdMap = 11, kNoMount = 12 };

bool WriteText(const char* path, const char* text) {
  int fd = ::open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  size_t n = std::strlen(text);
  bool ok = ::write(fd, text, n) == static_cast<ssize_t>(n);
  ::close(fd);
  return ok;
}

// Runs in the forked child: only system calls, then _exit.
[[noreturn]] void ProbeChild(const char* map, const char* gmap) {
  if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) ::_exit(kNoUserNamespace);
  WriteText("/proc/self/setgroups", "deny");
  if (!WriteText("/proc/self/uid_map", map) || !WriteText("/proc/self/gid_map", gmap))
    ::_exit(kNoIdMap);
  if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) ::_exit(kNoMount);
  ::_exit(kNamespaceOk);
}

}  // namespace

WebSandboxProbe::~WebSandboxProbe() {
  if (m_child > 0) {
    std::string ignored;
    Finish(&ignored);
  }
}

void WebSandboxProbe::Start() {
  if (const char* off = std::getenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS");
      off && std::strcmp(off, "0") != 0) {
    m_why = "WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS is set";
    return;
  }
  if (::access(kBwrap, X_OK) != 0) {
    m_why = std::string(kBwrap) + " is missing (install bubblewrap)";
    return;
  }
  if (::access(kDbusProxy, X_OK) != 0) {
    m_why = std::string(kDbusProxy) + " is missing (install xdg-dbus-proxy)";
    return;
  }
  // This user as itself inside the namespace, as bwrap maps it.
  char map[64], gmap[64];
  std::snprintf(map, sizeof map, "%u %u 1\n", static_cast<unsigned>(::geteuid()),
                static_cast<unsigned>(::geteuid()));
  std::snprintf(gmap, sizeof gmap, "%u %u 1\n", static_cast<unsigned>(::getegid()),
                static_cast<unsigned>(::getegid()));
  m_child = ::fork();
  if (m_child == 0) ProbeChild(map, gmap);
  if (m_child < 0)
    m_why = std::string("cannot start a process to try user namespaces: ") + std::strerror(errno);
}

namespace {

// The folder of the accessibility bus's socket when WebKit would be told an
// address whose folder is gone ("" when the address is fine or there is
// none): a launcher started by an earlier session may have left its address
// on the display. WebKit hands the bus to each sandboxed web process through
// a proxy in the sandbox, and ends the program when that cannot start.
std::string GoneAccessibilityBusFolder() {
  std::string address;
  if (const char* env = std::getenv("AT_SPI_BUS_ADDRESS"); env && *env) {
    address = env;
  } else if (GdkDisplay* display = gdk_display_get_default();
             display && GDK_IS_X11_DISPLAY(display)) {
    GdkAtom type = GDK_NONE;
    gint format = 0, length = 0;
    guchar* data = nullptr;
    if (gdk_property_get(gdk_get_default_root_window(), gdk_atom_intern_static_string("AT_SPI_BUS"),
                         GDK_NONE, 0, 4096, FALSE, &type, &format, &length, &data) &&
        data && format == 8)
      address.assign(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
    g_free(data);
  }
  const std::string key = "unix:path=";
  size_t at = address.find(key);
  if (at == std::string::npos) return "";
  std::string path = address.substr(at + key.size());
  path = path.substr(0, path.find(','));
  std::string folder = path.substr(0, path.rfind('/'));
  return folder.empty() || g_file_test(folder.c_str(), G_FILE_TEST_IS_DIR) ? "" : folder;
}

}  // namespace

bool WebSandboxProbe::Finish(std::string* why) {
  if (m_child < 0) {
    *why = m_why.empty() ? "the probe was not started" : m_why;
    return false;
  }
  int status = 0;
  while (::waitpid(m_child, &status, 0) < 0 && errno == EINTR) {
  }
  m_child = -1;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  switch (code) {
    case kNamespaceOk: {
      if (std::string gone = GoneAccessibilityBusFolder(); !gone.empty()) {
        *why = "the accessibility bus's folder " + gone + " is gone";
        return false;
      }
      // WebKit makes the sandbox's sockets in the user's runtime folder (the
      // cache folder when XDG_RUNTIME_DIR is unset), and ends the program
      // when it cannot.
      const char* runtime = g_get_user_runtime_dir();
      if (g_mkdir_with_parents(runtime, 0700) != 0 || ::access(runtime, W_OK | X_OK) != 0) {
        *why = std::string("the folder for its sockets, ") + runtime + ", cannot be written";
        return false;
      }
      return true;
    }
    case kNoUserNamespace:
      *why = "the system does not let this user create user namespaces";
      break;
    case kNoIdMap:
      *why = "the system does not let this user map its id into a user namespace";
      break;
    case kNoMount:
      *why = "the system does not let this user mount inside a user namespace";
      break;
    default:
      *why = "trying a user namespace failed";
      break;
  }
  return false;
}

std::vector<SandboxPath> WebProcessSandboxPaths(const std::string& moduleDir,
                                                const std::string& bridgeFolder,
                                                const std::string& workFolder) {
  return {
      {moduleDir + "/extensions", true},
      {bridgeFolder, true},
      {moduleDir + "/res", true},
      {workFolder, true},
  };
}

void SetUpWebSandbox(WebKitWebContext* context, bool usable, const std::string& why,
                     const std::vector<SandboxPath>& paths) {
  if (!usable) {
    Notice("the pages run without WebKit's sandbox: " + why);
    return;
  }
  webkit_web_context_set_sandbox_enabled(context, TRUE);
  for (const SandboxPath& p : paths)
    if (!p.path.empty() && g_file_test(p.path.c_str(), G_FILE_TEST_IS_DIR))
      webkit_web_context_add_path_to_sandbox(context, p.path.c_str(), p.readOnly);
}

}  // namespace zb
