// WebKit's sandbox for the web processes (bubblewrap): whether this system
// lets it run, and what the web processes may see inside it.
//
// Inside the sandbox a web process sees the system's libraries and fonts
// and, of this program, only the folders listed by WebProcessSandboxPaths:
// the web process extension, the bridge socket's folder, the pages (the
// extension resolves a page's real path there) and the work folder the
// <audio> element plays from, all read-only. Local pages themselves are read
// by the network process, which runs outside it.
#pragma once

#include <sys/types.h>
#include <webkit2/webkit2.h>

#include <string>
#include <vector>

#include "platform/outcome.h"

namespace zb {

// Why the sandbox cannot run here.
enum class SandboxBlock {
  kTurnedOff,             // WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS is set
  kNoBubblewrap,          // bwrap is missing
  kNoDbusProxy,           // xdg-dbus-proxy is missing
  kNoProbe,               // the probe's process could not start; detail: errno
  kNotProbed,             // Finish without Start
  kNoUserNamespace,       // the system refuses this user a user namespace
  kNoIdMap,               // ... mapping its id into one
  kNoMount,               // ... mounting inside one
  kProbeFailed,           // the probe ended otherwise
  kAccessibilityBusGone,  // the folder of the display's accessibility bus is gone
  kNoRuntimeFolder,       // the runtime folder for its sockets cannot be written
};
// Done when the sandbox can run.
using SandboxUse = Outcome<SandboxBlock>;

// What a user reads of a reason (after "the pages run without WebKit's
// sandbox: "). The accessibility bus's folder is named as it is found now.
std::string SandboxBlockText(SandboxBlock reason, int detail);

// Whether the sandbox can run here: looks for bwrap and xdg-dbus-proxy and
// tries, in a child process, what bubblewrap needs of the kernel (a user
// namespace with a mount namespace in which it may mount). Start it early,
// before threads exist (it forks); the child runs while the program goes on
// starting, and Finish (called once GTK has opened the display) waits for its
// answer and checks that the accessibility bus the display names still has
// its folder (WebKit ends the program when it cannot hand a sandboxed web
// process that bus).
class WebSandboxProbe {
 public:
  WebSandboxProbe() = default;
  ~WebSandboxProbe();  // reaps a child not waited for
  WebSandboxProbe(const WebSandboxProbe&) = delete;
  WebSandboxProbe& operator=(const WebSandboxProbe&) = delete;

  void Start();
  // Whether the sandbox can run.
  SandboxUse Finish();

 private:
  pid_t m_child = -1;
  SandboxUse m_known = Fail(SandboxBlock::kNotProbed);  // when no child was needed to know
};

struct SandboxPath {
  std::string path;
  bool readOnly = true;
};

// The folders the web processes need inside the sandbox; `workFolder` is the
// folder the <audio> element plays the ringtone from.
std::vector<SandboxPath> WebProcessSandboxPaths(const std::string& moduleDir,
                                                const std::string& bridgeFolder,
                                                const std::string& workFolder);

// Turns the sandbox on for the context (before its first web process starts)
// with the paths, when `use` is Done; otherwise leaves it off and says once on
// standard error why.
void SetUpWebSandbox(WebKitWebContext* context, const SandboxUse& use,
                     const std::vector<SandboxPath>& paths);

}  // namespace zb
