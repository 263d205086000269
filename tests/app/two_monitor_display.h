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
  bool ok() const { return ok_; }
  const std::string& name() const { return name_; }
  const std::string& log() const { return log_; }
  // Ends the server (and the window manager) now: the display goes away.
  void EndServer() {
    Stop(wm_);
    Stop(server_);
  }

 private:
  void Stop(pid_t& pid);
  TempDir dir_;
  pid_t server_ = -1, wm_ = -1;
  std::string name_, oldDisplay_, log_;
  bool hadDisplay_ = false, ok_ = false;
};

}  // namespace zb::testing
