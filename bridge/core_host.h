// The main window's state and the operations the scripting members call
// (bridge/method_table.cpp binds each member to one of them). Everything
// that needs no display lives here: the settings store and profile
// accessors, the command-line file, the dialog value and the job members.
// The window operations are left to the GTK main window; tests derive from
// this class with window operations of their own to run the bridge without a
// display.
#pragma once

#include <memory>
#include <string>

#include "jobs/job_state.h"
#include "platform/service_host.h"
#include "platform/work_folder.h"
#include "settings/registry.h"

namespace zb {
namespace media {
class CdAccess;
}

class CoreHost {
 public:
  // Builds the settings store: the key "Software\Zimbrel" of the current user,
  // then its six values in their order. The job fields start at 0.
  CoreHost(std::string moduleDir, std::shared_ptr<media::CdAccess> cd = nullptr);
  virtual ~CoreHost();

  const std::string& moduleDir() const { return m_moduleDir; }
  const std::shared_ptr<jobs::JobState>& jobs() const { return m_jobs; }
  void setCommandLineFile(std::string f) { m_commandLineFile = std::move(f); }
  void setCdAccess(std::shared_ptr<media::CdAccess> cd) { m_cd = std::move(cd); }
  // Where the pages' work files ("<module dir>/res/tmp/<name>") go; by default
  // res/tmp of the module directory itself.
  void setWorkFolder(WorkFolder w) { m_work = std::move(w); }
  const WorkFolder& workFolder() const { return m_work; }

  void SetZBInstDir(const std::string& v) { m_ZBInstDir.set(v); }

  // Window operations: they need the display.
  virtual void CloseActiveWindow() = 0;
  virtual std::string ShowPageDialog(const std::string& title, const std::string& url,
                                     const std::string& argument, int32_t left, int32_t top,
                                     int32_t width, int32_t height) = 0;
  virtual void ShowAboutBox() = 0;
  virtual void ShowContact() = 0;
  virtual void ShowCompatibility() = 0;
  virtual void ShowUsage() = 0;
  virtual void OpenRedirect(const std::string& where) = 0;
  virtual int32_t MessageBox(const std::string& text, int32_t type) = 0;
  virtual std::string SelectMediaFile() = 0;

  // The display-free operations (profile values with the defaults of ZBAid
  // and ZBNVCheck, the dialog value, the command-line file and the jobs).
  bool IsZBL() { return true; }

  std::string GetZBName();
  void SetZBName(const std::string& v);
  std::string GetZBPhone();
  void SetZBPhone(const std::string& v);
  std::string GetZBNetwork();
  void SetZBNetwork(const std::string& v);
  std::string GetZBAid();
  void SetZBAid(const std::string& v);
  std::string GetZBNVCheck();
  void SetZBNVCheck(const std::string& v);
  std::string GetVersion() { return kVersionCode; }
  std::string GetDialogArgument() { return m_dialogValue; }
  void SetDialogRetValue(const std::string& v) { m_dialogValue = v; }
  bool MakeHttpRequest(const std::string& url);
  int32_t xhStatus();
  std::string xhResponse();
  bool TranscodeMedia(const std::string& input, const std::string& output);
  int32_t tsStatus();
  bool UploadFile(const std::string& path, const std::string& sessionId);
  int32_t upStatus();
  bool GrabAudioDataFromCD(const std::string& drive, const std::string& track,
                           const std::string& output);
  int32_t ripStatus();
  std::string clFileName();
  std::string GetDrivesInfo();
  std::string GetTracksInfo(int32_t drive);
  bool BreakAsyncOperation();
  bool NormalizeAudio(const std::string& path);
  int32_t norStatus();

 protected:
  std::string m_moduleDir;
  std::shared_ptr<jobs::JobState> m_jobs;
  std::string m_commandLineFile;
  std::string m_dialogValue;
  WorkFolder m_work;

 private:
  media::CdAccess& cd();
  // A path a page gave, mapped into the work folder (made again when it went
  // away since the start).
  std::string WorkPath(const std::string& pagePath);

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
