// CoreHost: the application core, everything of the program that needs no
// display. It owns the user's profile, the job state shared with the job
// threads, the file named on the command line, the value a page dialog is
// opened with and hands back, the work folder the pages' work files map into,
// and the CD access. The scripting members (bridge/method_table.cpp) call its
// operations; for the window operations it asks its front end
// (core/front_end.h), which the main window implements. The application
// object owns it (app/zimbrel_app.h).
//
// All operations run on the UI thread; jobs run on threads of their own and
// meet the core only through JobState.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/front_end.h"
#include "jobs/job_state.h"
#include "platform/cd_listing.h"
#include "platform/service_host.h"
#include "platform/work_folder.h"
#include "settings/profile.h"

namespace zb {

namespace media {
class CdAccess;  // the CD access layer (media/cd_access.h)
}

class CoreHost final {
 public:
  // Opens the profile (its trace lines come first); the job fields start at
  // 0. `frontEnd` outlives the core. `cd`: the CD access to use (tests give
  // their own); null: the system's, made on first use.
  CoreHost(std::string moduleDir, FrontEnd& frontEnd,
           std::shared_ptr<media::CdAccess> cd = nullptr);
  ~CoreHost();
  CoreHost(const CoreHost&) = delete;
  CoreHost& operator=(const CoreHost&) = delete;

  // At every start: writes the folder the program runs from to the setting
  // ZBInstDir (the file-manager extension starts the program from there) and
  // stores the affiliate id's default when it is empty.
  void RecordStart();
  // The song named on the command line (or handed over by a later start);
  // the pages take it once (TakeCommandLineFile).
  void SetCommandLineFile(std::string file);
  // Where the pages' work files ("<module dir>/res/tmp/<name>") go; by default
  // res/tmp of the module directory itself.
  void SetWorkFolder(WorkFolder work);
  // How a job tells the user of a failure that needs a box: called on the
  // job's thread, it shows the box on the UI thread and returns once it has
  // closed. Set before any job starts. It may run after the core has gone
  // (jobs outlive it), so it holds nothing the core or a window owns.
  void SetJobMessageBox(std::function<void(const std::string& text)> show);
  // Stops the running job at once: asks it to stop and kills its recorded
  // transcoder child.
  void CancelRunningJob();
  // At the program's end: refuses every later tool start, ends every tool
  // child still running (ffmpeg, mp3gain), reaps it and removes what it half
  // wrote, waiting at most `timeoutMs`. True when none is left. Job threads
  // are not waited for.
  bool EndTools(int timeoutMs = 900);
  // Whether a job thread (of this core or one before it) is at work.
  static bool JobsRunning();
  // The fields the jobs share with the core, to read (tests do).
  std::shared_ptr<const jobs::JobState> Jobs() const { return m_jobs; }

  // The member operations (bridge/method_table.cpp).

  // The page runs inside the program (always true here).
  bool IsProgramHost() { return true; }

  // Window operations: the core's part of each, then the front end's.
  // Ends the recorded transcoder child, then closes the innermost window.
  void CloseActiveWindow();
  // Opens the dialog with `argument` as the dialog value and answers the
  // value once the dialog has closed: what its page handed back, else the
  // argument.
  std::string ShowPageDialog(const std::string& title, const std::string& url,
                             const std::string& argument, int32_t left, int32_t top, int32_t width,
                             int32_t height);
  void ShowAboutBox();
  void ShowContact();
  void ShowCompatibility();
  void ShowUsage();
  void OpenRedirect(const std::string& where);
  int32_t MessageBox(const std::string& text, int32_t type);
  std::string SelectMediaFile();

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
  // is what the page polls (the values of jobs/job_status.h). A path a page
  // gives under "<module dir>/res/tmp/" maps into the work folder; a path
  // holding a NUL starts no job.
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
  // Grabs a CD track to a WAV file.
  bool StartGrab(const std::string& drive, const std::string& track, const std::string& output);
  int32_t GrabStatus();
  bool StartNormalize(const std::string& path);
  int32_t NormalizeStatus();
  // Asks the running job to stop; always true.
  bool CancelJob();

  // The CD drives, and the tracks of the disc in one of them, or why they
  // cannot be listed (the bridge words a failure for the page).
  CdListing ListCdDrives();
  CdListing ListCdTracks(int32_t drive);

 private:
  // The CD access given at construction, else the system's, made on first
  // use.
  const std::shared_ptr<media::CdAccess>& Cd();
  // A path a page gave, mapped into the work folder (made again when it went
  // away since the start); none for a path holding a NUL, which starts no
  // job.
  std::optional<std::string> WorkPath(const std::string& pagePath);

  const std::string m_moduleDir;
  FrontEnd& m_frontEnd;
  const std::shared_ptr<jobs::JobState> m_jobs;
  Profile m_profile;
  std::string m_commandLineFile;
  std::string m_dialogValue;
  WorkFolder m_work;
  std::shared_ptr<media::CdAccess> m_cd;
};

}  // namespace zb
