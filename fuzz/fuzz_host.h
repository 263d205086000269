// A host whose operations do nothing: the fuzzers exercise the conversions
// and the dispatch, not the operations.
#pragma once

#include "bridge/zbl_host.h"

namespace zb {

class FuzzHost : public ZblHost {
 public:
  void CloseActiveWindow() override {}
  std::string ShowPageDialog(const std::string& t, const std::string& u, const std::string& a, int,
                             int, int, int) override {
    return t + u + a;
  }
  std::string GetZBName() override { return name; }
  void SetZBName(const std::string& v) override { name = v; }
  std::string GetZBPhone() override { return ""; }
  void SetZBPhone(const std::string&) override {}
  std::string GetZBNetwork() override { return ""; }
  void SetZBNetwork(const std::string&) override {}
  std::string GetZBAid() override { return "2"; }
  void SetZBAid(const std::string&) override {}
  std::string GetZBNVCheck() override { return "0"; }
  void SetZBNVCheck(const std::string&) override {}
  std::string GetVersion() override { return "260"; }
  std::string GetDialogArgument() override { return name; }
  void SetDialogRetValue(const std::string& v) override { name = v; }
  void ShowAboutBox() override {}
  void ShowContact() override {}
  void ShowCompatibility() override {}
  void ShowUsage() override {}
  void OpenRedirect(const std::string&) override {}
  int32_t MessageBox(const std::string&, int32_t t) override { return t; }
  bool MakeHttpRequest(const std::string&) override { return false; }
  int32_t xhStatus() override { return 0; }
  std::string xhResponse() override { return name; }
  bool TranscodeMedia(const std::string&, const std::string&) override { return false; }
  int32_t tsStatus() override { return 0; }
  std::string SelectMediaFile() override { return ""; }
  bool UploadFile(const std::string&, const std::string&) override { return false; }
  int32_t upStatus() override { return 0; }
  bool GrabAudioDataFromCD(const std::string&, const std::string&, const std::string&) override {
    return false;
  }
  int32_t ripStatus() override { return 0; }
  std::string clFileName() override { return ""; }
  std::string GetDrivesInfo() override { return ""; }
  std::string GetTracksInfo(int32_t d) override { return std::to_string(d); }
  bool BreakAsyncOperation() override { return true; }
  bool NormalizeAudio(const std::string&) override { return false; }
  int32_t norStatus() override { return 0; }

  std::string name;
};

}  // namespace zb
