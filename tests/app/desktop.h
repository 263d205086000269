// The desktop an end-to-end test drives: the X display the test runs in
// (xvfb-run), or a headless Wayland compositor of the test's own, started as
// the user the test runs as: GNOME's mutter, nested in an X server of its own
// (whose XTEST keys reach mutter's focused window and whose root window is
// the screenshot), sway (wtype for keys, grim for screenshots) or KWin on its
// virtual backend, started from a copy of its binary (which drops the file
// capability a container may refuse), with a session bus of its own (keys and
// clicks through its fake-input protocol and our zimbrel-fake-input,
// screenshots and window operations through its D-Bus). While a
// Wayland desktop lives, the programs AppHarness starts open a Wayland display
// on it and nothing else: DISPLAY is unset, GDK_BACKEND is wayland.
//
// Keys go to the window that has the keyboard focus; tests send them once a
// page has said that its window has the focus, or once a screenshot shows
// the window they are meant for.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "temp_dir.h"

namespace zb::testing {

enum class DesktopKind { kX11, kMutter, kSway, kKWin };
const char* DesktopName(DesktopKind kind);

class Desktop {
 public:
  explicit Desktop(DesktopKind kind);
  ~Desktop();
  Desktop(const Desktop&) = delete;
  Desktop& operator=(const Desktop&) = delete;

  DesktopKind Kind() const { return m_kind; }
  const char* Name() const { return DesktopName(m_kind); }
  // False when the compositor did not come up (log() says why).
  bool Ok() const { return m_ok; }
  std::string Log() const;

  // Keys in xdotool's syntax ("Return", "shift+Tab", "ctrl+p", "alt+y").
  void Keys(const std::vector<std::string>& keys) const;
  void Type(const std::string& text) const;
  // A click of the first button at a point of the screen (not on sway, which
  // has no pointer here).
  void Click(int x, int y) const;
  // A PNG of the whole screen.
  bool Screenshot(const std::string& path) const;
  // The title of the window sway gives the keyboard focus ("" when none, and
  // on the other desktops, which do not say).
  std::string FocusedTitle() const;
  // Asks the focused window to close, as its title-bar close does.
  void CloseFocusedWindow() const;
  // KWin's session bus (its D-Bus interfaces; programs may share it). Empty
  // on the other desktops.
  const std::string& BusAddress() const { return m_busAddress; }
  // Ends the compositor at once: the display goes away under its clients.
  void KillCompositor();

 private:
  bool StartSway();
  bool StartMutter();
  bool StartKWin();
  bool KWinScreenshot(const std::string& path) const;
  // Runs a KWin script (JavaScript with KWin's `workspace`) once.
  void KWinScript(const std::string& js) const;
  std::vector<std::string> FakeInput(const std::vector<std::string>& args) const;
  void Stop();
  std::vector<std::string> XTool(const std::vector<std::string>& argv) const;
  DesktopKind m_kind;
  TempDir m_dir;
  std::string m_runtimeDir, m_xDisplay, m_swaySocket, m_busAddress;
  pid_t m_compositor = -1, m_xserver = -1, m_keyboard = -1, m_bus = -1;
  bool m_ok = false;
  // The test's own environment, restored when the desktop ends.
  std::vector<std::pair<std::string, std::string>> m_saved;
  std::vector<std::string> m_unsetSaved;
};

// An RGB picture (a screenshot) and the rectangles its colours cover.
struct Box {
  int x = 0, y = 0, width = 0, height = 0;
  bool Empty() const { return width <= 0 || height <= 0; }
  int Cx2() const { return 2 * x + width; }  // twice the centre: no rounding
  int Cy2() const { return 2 * y + height; }
};
class Picture {
 public:
  explicit Picture(const std::string& pngPath);
  bool Ok() const { return m_width > 0; }
  // The bounding box of the pixels of exactly that colour (0xRRGGBB) inside
  // `within` (the whole picture when empty), and how many there are.
  Box Bounds(unsigned rgb, Box within = {}) const;
  long Count(unsigned rgb, Box within = {}) const;
  unsigned At(int x, int y) const {
    return x >= 0 && y >= 0 && x < m_width && y < m_height ? m_pixels[size_t(y) * m_width + x] : 0;
  }

 private:
  template <class F>
  void Each(unsigned rgb, Box within, F f) const;
  int m_width = 0, m_height = 0;
  std::vector<unsigned> m_pixels;
};

}  // namespace zb::testing
