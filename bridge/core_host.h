// The main window's state and operations that need no display: the settings
// store and profile accessors, the command-line file, the dialog value, and
// the job members. The GTK main window derives from it and adds the window
// operations; tests derive from it to run the bridge without a display.
#pragma once

#include <memory>
#include <string>

#include "bridge/zbl_host.h"
#include "media/job_state.h"
#include "settings/registry.h"

namespace zb {
namespace media {
class CdAccess;
}

class CoreHost : public ZblHost {
 public:
  // Builds the settings store: the key "Software\Zimbrel" of the current user,
  // then its six values in their order. The job fields start at 0.
  CoreHost(std::string moduleDir, std::shared_ptr<media::CdAccess> cd = nullptr);
  ~CoreHost() override;

  const std::string& moduleDir() const { return m_moduleDir; }
  const std::shared_ptr<media::JobState>& jobs() const { return m_jobs; }
  void setCommandLineFile(std::string f) { m_commandLineFile = std::move(f); }
  void setCdAccess(std::shared_ptr<media::CdAccess> cd) { m_cd = std::move(cd); }

  // Profile accessors (with the defaults of ZBAid and ZBNVCheck).
  void SetZBInstDir(const std::string& v) { m_ZBInstDir.set(v); }

  std::string GetZBName() override;
  void SetZBName(const std::string& v) override;
  std::string GetZBPhone() override;
  void SetZBPhone(const std::string& v) override;
  std::string GetZBNetwork() override;
  void SetZBNetwork(const std::string& v) override;
  std::string GetZBAid() override;
  void SetZBAid(const std::string& v) override;
  std::string GetZBNVCheck() override;
  void SetZBNVCheck(const std::string& v) override;
  std::string GetVersion() override { return "260"; }
  std::string GetDialogArgument() override { return m_dialogValue; }
  void SetDialogRetValue(const std::string& v) override { m_dialogValue = v; }
  bool MakeHttpRequest(const std::string& url) override;
  int32_t xhStatus() override;
  std::string xhResponse() override;
  bool TranscodeMedia(const std::string& input, const std::string& output) override;
  int32_t tsStatus() override;
  bool UploadFile(const std::string& path, const std::string& sessionId) override;
  int32_t upStatus() override;
  bool GrabAudioDataFromCD(const std::string& drive, const std::string& track,
                           const std::string& output) override;
  int32_t ripStatus() override;
  std::string clFileName() override;
  std::string GetDrivesInfo() override;
  std::string GetTracksInfo(int32_t drive) override;
  bool BreakAsyncOperation() override;
  bool NormalizeAudio(const std::string& path) override;
  int32_t norStatus() override;

 protected:
  std::string m_moduleDir;
  std::shared_ptr<media::JobState> m_jobs;
  std::string m_commandLineFile;
  std::string m_dialogValue;

 private:
  media::CdAccess& cd();

  registry m_registry;
  registry::value m_ZBName;
  registry::value m_ZBPhone;
  registry::value m_ZBNetwork;
  registry::value m_ZBAid;
  registry::value m_ZBNVCheck;
  registry::value m_ZBInstDir;
  std::shared_ptr<media::CdAccess> m_cd;
};

}  // namespace zb
