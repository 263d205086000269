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
  if (m_child > 0) (void)Finish();
}

void WebSandboxProbe::Start() {
  if (const char* off = std::getenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS");
      off && std::strcmp(off, "0") != 0) {
    m_known = Fail(SandboxBlock::kTurnedOff);
    return;
  }
  if (::access(kBwrap, X_OK) != 0) {
    m_known = Fail(SandboxBlock::kNoBubblewrap);
    return;
  }
  if (::access(kDbusProxy, X_OK) != 0) {
    m_known = Fail(SandboxBlock::kNoDbusProxy);
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
  if (m_child < 0) m_known = Fail(SandboxBlock::kNoProbe, errno);
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

SandboxUse WebSandboxProbe::Finish() {
  if (m_child < 0) return m_known;
  int status = 0;
  while (::waitpid(m_child, &status, 0) < 0 && errno == EINTR) {
  }
  m_child = -1;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  switch (code) {
    case kNamespaceOk: {
      if (!GoneAccessibilityBusFolder().empty()) return Fail(SandboxBlock::kAccessibilityBusGone);
      // WebKit makes the sandbox's sockets in the user's runtime folder (the
      // cache folder when XDG_RUNTIME_DIR is unset), and ends the program
      // when it cannot.
      const char* runtime = g_get_user_runtime_dir();
      if (g_mkdir_with_parents(runtime, 0700) != 0 || ::access(runtime, W_OK | X_OK) != 0)
        return Fail(SandboxBlock::kNoRuntimeFolder);
      return Done{};
    }
    case kNoUserNamespace:
      return Fail(SandboxBlock::kNoUserNamespace);
    case kNoIdMap:
      return Fail(SandboxBlock::kNoIdMap);
    case kNoMount:
      return Fail(SandboxBlock::kNoMount);
    default:
      return Fail(SandboxBlock::kProbeFailed);
  }
}

std::string SandboxBlockText(SandboxBlock reason, int detail) {
  switch (reason) {
    case SandboxBlock::kTurnedOff:
      return "WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS is set";
    case SandboxBlock::kNoBubblewrap:
      return std::string(kBwrap) + " is missing (install bubblewrap)";
    case SandboxBlock::kNoDbusProxy:
      return std::string(kDbusProxy) + " is missing (install xdg-dbus-proxy)";
    case SandboxBlock::kNoProbe:
      return std::string("cannot start a process to try user namespaces: ") + std::strerror(detail);
    case SandboxBlock::kNotProbed:
      return "the probe was not started";
    case SandboxBlock::kNoUserNamespace:
      return "the system does not let this user create user namespaces";
    case SandboxBlock::kNoIdMap:
      return "the system does not let this user map its id into a user namespace";
    case SandboxBlock::kNoMount:
      return "the system does not let this user mount inside a user namespace";
    case SandboxBlock::kProbeFailed:
      break;
    case SandboxBlock::kAccessibilityBusGone: {
      const std::string gone = GoneAccessibilityBusFolder();
      return gone.empty() ? "the accessibility bus's folder is gone"
                          : "the accessibility bus's folder " + gone + " is gone";
    }
    case SandboxBlock::kNoRuntimeFolder:
      return std::string("the folder for its sockets, ") + g_get_user_runtime_dir() +
             ", cannot be written";
  }
  return "trying a user namespace failed";
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

void SetUpWebSandbox(WebKitWebContext* context, const SandboxUse& use,
                     const std::vector<SandboxPath>& paths) {
  if (!use) {
    Notice("the pages run without WebKit's sandbox: " +
           SandboxBlockText(use.Reason(), use.Detail()));
    return;
  }
  webkit_web_context_set_sandbox_enabled(context, TRUE);
  for (const SandboxPath& p : paths)
    if (!p.path.empty() && g_file_test(p.path.c_str(), G_FILE_TEST_IS_DIR))
      webkit_web_context_add_path_to_sandbox(context, p.path.c_str(), p.readOnly);
}

}  // namespace zb
