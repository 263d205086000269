// An X server of the test's own with two monitors side by side (each
// 1280 x 1024, the left one primary), as GDK sees real multi-monitor set-ups:
// Xorg with the dummy video driver, whose outputs RandR reports. Optionally
// with a real window manager (xfwm4, compositing off). While the object lives,
// DISPLAY names it, so the harness's tools and GDK in the test use it.
#pragma once

#include <sys/types.h>

#include <string>

#include "temp_dir.h"

namespace zb::testing {

class TwoMonitorDisplay {
 public:
  explicit TwoMonitorDisplay(bool withWindowManager);
  ~TwoMonitorDisplay();
  TwoMonitorDisplay(const TwoMonitorDisplay&) = delete;
  TwoMonitorDisplay& operator=(const TwoMonitorDisplay&) = delete;

  // False when the server, its monitors or the window manager did not come up.
  bool Ok() const { return m_ok; }
  const std::string& Name() const { return m_name; }
  const std::string& Log() const { return m_log; }
  // Ends the server (and the window manager) now: the display goes away.
  void EndServer() {
    Stop(m_wm);
    Stop(m_server);
  }

 private:
  void Stop(pid_t& pid);
  TempDir m_dir;
  pid_t m_server = -1, m_wm = -1;
  std::string m_name, m_oldDisplay, m_log;
  bool m_hadDisplay = false, m_ok = false;
};

}  // namespace zb::testing
