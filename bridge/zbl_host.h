// The operations that the scripting object routes page calls to, one per
// member of the method table, arguments in script order. The main window
// implements them; the scripting object looks it up again on every call.
#pragma once

#include <cstdint>
#include <string>

namespace zb {

class ZblHost {
 public:
  virtual ~ZblHost() = default;

  virtual bool IsZBL() { return true; }
  virtual void CloseActiveWindow() = 0;
  virtual std::string ShowPageDialog(const std::string& title, const std::string& url,
                                     const std::string& argument, int left, int top, int width,
                                     int height) = 0;
  virtual std::string GetZBName() = 0;
  virtual void SetZBName(const std::string& v) = 0;
  virtual std::string GetZBPhone() = 0;
  virtual void SetZBPhone(const std::string& v) = 0;
  virtual std::string GetZBNetwork() = 0;
  virtual void SetZBNetwork(const std::string& v) = 0;
  virtual std::string GetZBAid() = 0;
  virtual void SetZBAid(const std::string& v) = 0;
  virtual std::string GetZBNVCheck() = 0;
  virtual void SetZBNVCheck(const std::string& v) = 0;
  virtual std::string GetVersion() = 0;
  virtual std::string GetDialogArgument() = 0;
  virtual void SetDialogRetValue(const std::string& v) = 0;
  virtual void ShowAboutBox() = 0;
  virtual void ShowContact() = 0;
  virtual void ShowCompatibility() = 0;
  virtual void ShowUsage() = 0;
  virtual void OpenRedirect(const std::string& where) = 0;
  virtual int32_t MessageBox(const std::string& text, int32_t type) = 0;
  virtual bool MakeHttpRequest(const std::string& url) = 0;
  virtual int32_t xhStatus() = 0;
  virtual std::string xhResponse() = 0;
  virtual bool TranscodeMedia(const std::string& input, const std::string& output) = 0;
  virtual int32_t tsStatus() = 0;
  virtual std::string SelectMediaFile() = 0;
  virtual bool UploadFile(const std::string& path, const std::string& sessionId) = 0;
  virtual int32_t upStatus() = 0;
  virtual bool GrabAudioDataFromCD(const std::string& drive, const std::string& track,
                                   const std::string& output) = 0;
  virtual int32_t ripStatus() = 0;
  virtual std::string clFileName() = 0;
  virtual std::string GetDrivesInfo() = 0;
  virtual std::string GetTracksInfo(int32_t drive) = 0;
  virtual bool BreakAsyncOperation() = 0;
  virtual bool NormalizeAudio(const std::string& path) = 0;
  virtual int32_t norStatus() = 0;
};

}  // namespace zb
