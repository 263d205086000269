// What the program sets in its own environment before GTK starts, and the
// launch context that keeps those settings away from the programs it opens
// for the user (the browser, the help viewer).
//
// The pages are drawn without the GPU (every view's hardware-acceleration
// policy is NEVER), so on X11 nothing in the UI process needs OpenGL; left
// alone, GDK probes GLX when it opens the display and WebKit probes EGL for a
// render device, and each probe loads Mesa with LLVM into the UI process.
#pragma once

#include <gio/gio.h>

#include <string>
#include <vector>

namespace zb {

// What PrepareProcessEnvironment set in the program's own environment: the
// application object keeps it for what opens programs for the user, which get
// the environment without these.
struct ProgramEnvironment {
  // The variables set (not those the user had set), in the order set.
  std::vector<std::string> variablesSet;
};

// Call first in main, before GTK starts and before any thread exists. Sets,
// where the user has not set them:
//  GDK_GL=disable                  GDK makes no GL context and probes no GLX;
//  WEBKIT_DISABLE_DMABUF_RENDERER=1  the DMA-BUF renderer serves accelerated
//                                  compositing only, which the views never use;
//  WEBKIT_WEB_RENDER_DEVICE_FILE   the first render node of /dev/dri (its
//                                  conventional name when there is none, so the
//                                  web process finds none, as WebKit's probe
//                                  would): WebKit then skips its EGL probe.
//                                  Not under Wayland, where WebKit needs its
//                                  EGL display to draw any view but the first;
//  JSC_useJIT=false                the web processes' JavaScript runs in the
//                                  interpreter (about 2.5 MB less each);
//  DBUS_SESSION_BUS_ADDRESS        the session bus found once (GIO's own
//                                  search, which may start dbus-launch), so
//                                  that GTK's accessibility bridge, GTK and
//                                  WebKit do not each search for it.
// Returns what it set.
ProgramEnvironment PrepareProcessEnvironment();

// Whether GTK will open a Wayland display: the first backend of GDK_BACKEND
// ("*" when unset: Wayland, then X11) that can open, as GDK chooses.
bool DisplayWillBeWayland();

// The first render node below `driDir` ("renderD128", "renderD129", ...), or
// the path of renderD128 when there is none.
std::string RenderNodeFor(const std::string& driDir);

// A launch context for programs started through GIO: the desktop's own (for
// startup notification) without the variables `environment` set (the session
// bus address stays). The caller unrefs it.
GAppLaunchContext* NewLaunchContext(const ProgramEnvironment& environment);

// Opens a web address in the desktop's default browser (with such a launch
// context); nothing happens when there is none.
void OpenInDefaultBrowser(const ProgramEnvironment& environment, const std::string& url);

}  // namespace zb
