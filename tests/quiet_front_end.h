// A front end for cores that no test looks at: it shows nothing and a box
// answers OK.
#pragma once

#include <cstdint>
#include <string>

#include "core/front_end.h"

namespace zb::testing {

class QuietFrontEnd final : public FrontEnd {
 public:
  void CloseActiveWindow() override {}
  void ShowPageDialog(const std::string&, const std::string&, const std::string&, int32_t, int32_t,
                      int32_t, int32_t) override {}
  void ShowAboutBox() override {}
  void ShowContact() override {}
  void ShowCompatibility() override {}
  void ShowUsage() override {}
  void OpenRedirect(const std::string&) override {}
  int32_t MessageBox(const std::string&, int32_t) override { return 1; }
  std::string SelectMediaFile() override { return ""; }
};

// One quiet front end serves every core of a test (it keeps nothing).
inline FrontEnd& Quiet() {
  static QuietFrontEnd frontEnd;
  return frontEnd;
}

}  // namespace zb::testing
