// CoreHost: the application core, everything of the main window that needs
// no display. It owns the user's profile, the job state shared with the job
// threads, the file named on the command line, the value a page dialog hands
// back, the work folder the pages' work files map into, and the CD access.
// The scripting members (bridge/method_table.cpp) call its operations; the
// window operations are left to the front end (app/zimbrel_dlg.h), and tests
// derive from it with window operations of their own to run the core and the
// bridge without a display.
//
// All operations run on the UI thread; jobs run on threads of their own and
// meet the core only through JobState.
#pragma once

#include <memory>
#include <string>

#include "jobs/job_state.h"
#include "media/cd_jobs.h"
#include "platform/service_host.h"
#include "platform/work_folder.h"
#include "settings/profile.h"

namespace zb {

class CoreHost {
 public:
  // Opens the profile (its trace lines come first); the job fields start at 0.
  explicit CoreHost(std::string moduleDir, std::shared_ptr<media::CdAccess> cd = nullptr);
  virtual ~CoreHost();

  const std::string& moduleDir() const { return m_moduleDir; }
  const std::shared_ptr<jobs::JobState>& jobs() const { return m_jobs; }
  Profile& profile() { return m_profile; }
  void setCommandLineFile(std::string f) { m_commandLineFile = std::move(f); }
  // Where the pages' work files ("<module dir>/res/tmp/<name>") go; by default
  // res/tmp of the module directory itself.
  void setWorkFolder(WorkFolder w) { m_work = std::move(w); }
  const WorkFolder& workFolder() const { return m_work; }

  // Window operations: the front end's, they need the display.
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

  // The page runs inside the program (always true here).
  bool IsProgramHost() { return true; }

  // The profile, as the pages read and change it.
  std::string GetUserName() { return m_profile.UserName(); }
  void SetUserName(const std::string& v) { m_profile.SetUserName(v); }
  std::string GetPhoneNumber() { return m_profile.PhoneNumber(); }
  void SetPhoneNumber(const std::string& v) { m_profile.SetPhoneNumber(v); }
  std::string GetPhoneNetwork() { return m_profile.PhoneNetwork(); }
  void SetPhoneNetwork(const std::string& v) { m_profile.SetPhoneNetwork(v); }
  std::string GetAffiliateId() { return m_profile.AffiliateId(); }
  void SetAffiliateId(const std::string& v) { m_profile.SetAffiliateId(v); }
  std::string GetNumberDelivered() { return m_profile.NumberDelivered(); }
  void SetNumberDelivered(const std::string& v) { m_profile.SetNumberDelivered(v); }

  std::string GetVersionCode() { return kVersionCode; }
  // The value a page dialog is opened with, and the one it hands back.
  std::string GetDialogArgument() { return m_dialogValue; }
  void SetDialogResult(const std::string& v) { m_dialogValue = v; }
  // The file named on the command line, given once: later reads get "".
  std::string TakeCommandLineFile();

  // The jobs: each Start... answers whether the job started; its ...Status
  // is what the page polls (the values of jobs/job_status.h).
  bool StartHttpRequest(const std::string& url);
  int32_t HttpRequestStatus();
  // The answer, or why there is none (the bridge words it for the page).
  jobs::HttpResponse HttpResponse();
  // The whole song, or the part that starts at `startMs` and lasts
  // `lengthMs`, faded in over `fadeMs` and out over `fadeOutMs` (each a
  // number as text, "" when not given: media::ReadTranscodePart). False, and
  // no job, for a part that cannot be.
  bool StartTranscode(const std::string& input, const std::string& output,
                      const std::string& startMs, const std::string& lengthMs,
                      const std::string& fadeMs, const std::string& fadeOutMs);
  int32_t TranscodeStatus();
  // The song's waveform, length and loudest stretches, and a preview of it
  // (media/song_analysis.h).
  bool StartAnalysis(const std::string& input, const std::string& preview);
  int32_t AnalysisStatus();
  std::string AnalysisResult();
  bool StartUpload(const std::string& path, const std::string& sessionId);
  int32_t UploadStatus();
  bool StartGrab(const std::string& drive, const std::string& track, const std::string& output);
  int32_t GrabStatus();
  bool StartNormalize(const std::string& path);
  int32_t NormalizeStatus();
  // Asks the running job to stop; always true.
  bool CancelJob();

  // The CD drives, and the tracks of the disc in one of them, or why they
  // cannot be listed (the bridge words a failure for the page).
  media::CdListing ListCdDrives();
  media::CdListing ListCdTracks(int32_t drive);

 protected:
  std::string m_moduleDir;
  std::shared_ptr<jobs::JobState> m_jobs;
  std::string m_commandLineFile;
  std::string m_dialogValue;
  WorkFolder m_work;

 private:
  // The CD access given at construction, else the system's, made on first
  // use; never null.
  const std::shared_ptr<media::CdAccess>& cd();
  // A path a page gave, mapped into the work folder (made again when it went
  // away since the start).
  std::string WorkPath(const std::string& pagePath);

  Profile m_profile;
  std::shared_ptr<media::CdAccess> m_cd;
};

}  // namespace zb
