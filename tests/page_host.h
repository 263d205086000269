// The display-free main window for tests that drive members through the
// scripting object: the real settings store, command-line file and jobs, and
// window operations that do nothing (no page dialog, box or chooser is ever
// shown; a box answers OK).
#pragma once

#include <string>

#include "bridge/core_host.h"

namespace zb::testing {

class PageHost : public CoreHost {
 public:
  using CoreHost::CoreHost;
  void CloseActiveWindow() override {}
  std::string ShowPageDialog(const std::string&, const std::string&, const std::string& argument,
                             int, int, int, int) override {
    return argument;
  }
  void ShowAboutBox() override {}
  void ShowContact() override {}
  void ShowCompatibility() override {}
  void ShowUsage() override {}
  void OpenRedirect(const std::string&) override {}
  int32_t MessageBox(const std::string&, int32_t) override { return 1; }
  std::string SelectMediaFile() override { return ""; }
};

}  // namespace zb::testing
