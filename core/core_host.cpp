#include "core/core_host.h"

#include <signal.h>

#include "jobs/job_status.h"
#include "media/cd_access.h"
#include "media/cd_jobs.h"
#include "media/normalize.h"
#include "media/song_analysis.h"
#include "media/tool_runner.h"
#include "media/transcode.h"
#include "net/http_request.h"
#include "net/upload.h"

namespace zb {
namespace {

// ZBL_tsStatus: what the pages read for the transcode's end.
int32_t PageTranscodeStatus(const media::TranscodeEnd& end) {
  if (end) return jobs::status::kTranscodeDone;
  return end.Reason() == media::TranscodeFailure::kCannotWrite ? jobs::status::kTranscodeCannotWrite
                                                               : jobs::status::kTranscodeFailed;
}

}  // namespace

CoreHost::CoreHost(std::string moduleDir, FrontEnd& frontEnd, std::shared_ptr<media::CdAccess> cd)
    : m_moduleDir(std::move(moduleDir)),
      m_frontEnd(frontEnd),
      m_jobs(std::make_shared<jobs::JobState>()),
      m_work(m_moduleDir),
      m_cd(std::move(cd)) {}

CoreHost::~CoreHost() = default;

void CoreHost::RecordStart() {
  m_profile.SetInstallDir(m_moduleDir);
  m_profile.AffiliateId();
}

void CoreHost::SetCommandLineFile(std::string file) {
  m_commandLineFile = std::move(file);
}

void CoreHost::SetWorkFolder(WorkFolder work) {
  m_work = std::move(work);
}

void CoreHost::SetJobMessageBox(std::function<void(const std::string& text)> show) {
  m_jobs->showMessageBox = std::move(show);
}

void CoreHost::CancelRunningJob() {
  m_jobs->Cancel();
  m_jobs->TerminateRecordedProcess(SIGKILL);
}

bool CoreHost::EndTools(int timeoutMs) {
  return media::EndAllChildren(timeoutMs);
}

bool CoreHost::JobsRunning() {
  return jobs::RunningJobThreads() > 0;
}

void CoreHost::CloseActiveWindow() {
  // The id stays recorded until the job clears it under the same lock,
  // before it reaps its child, so a reused process id is never signalled.
  m_jobs->TerminateRecordedProcess(SIGKILL);
  m_frontEnd.CloseActiveWindow();
}

std::string CoreHost::ShowPageDialog(const std::string& title, const std::string& url,
                                     const std::string& argument, int32_t left, int32_t top,
                                     int32_t width, int32_t height) {
  m_dialogValue = argument;
  m_frontEnd.ShowPageDialog(title, url, argument, left, top, width, height);
  return m_dialogValue;
}

void CoreHost::ShowAboutBox() {
  m_frontEnd.ShowAboutBox();
}
void CoreHost::ShowContact() {
  m_frontEnd.ShowContact();
}
void CoreHost::ShowCompatibility() {
  m_frontEnd.ShowCompatibility();
}
void CoreHost::ShowUsage() {
  m_frontEnd.ShowUsage();
}
void CoreHost::OpenRedirect(const std::string& where) {
  m_frontEnd.OpenRedirect(where);
}
int32_t CoreHost::MessageBox(const std::string& text, int32_t type) {
  return m_frontEnd.MessageBox(text, type);
}
std::string CoreHost::SelectMediaFile() {
  return m_frontEnd.SelectMediaFile();
}

std::string CoreHost::TakeCommandLineFile() {
  std::string f = std::move(m_commandLineFile);
  m_commandLineFile.clear();
  return f;
}

bool CoreHost::StartHttpRequest(const std::string& url) {
  return net::StartHttpRequest(m_jobs, url);
}
int32_t CoreHost::HttpRequestStatus() {
  return m_jobs->Status(jobs::JobKind::kHttp);
}
jobs::HttpResponse CoreHost::HttpResponse() {
  return m_jobs->Response();
}

std::optional<std::string> CoreHost::WorkPath(const std::string& pagePath) {
  // A tool would get the name cut at its first NUL: another file than named.
  if (pagePath.find('\0') != std::string::npos) return std::nullopt;
  std::string path = m_work.Map(pagePath);
  if (path != pagePath) PrepareWorkFolder(m_work.Path());
  return path;
}

bool CoreHost::StartTranscode(const std::string& input, const std::string& output,
                              const std::string& startMs, const std::string& lengthMs,
                              const std::string& fadeMs, const std::string& fadeOutMs) {
  std::optional<media::TranscodePart> part;
  if (!media::ReadTranscodePart(startMs, lengthMs, fadeMs, fadeOutMs, &part)) return false;
  const std::optional<std::string> in = WorkPath(input), out = WorkPath(output);
  if (!in || !out) return false;
  return media::StartTranscode(m_jobs, PageTranscodeStatus, m_moduleDir, *in, *out, m_work.Path(),
                               part);
}
int32_t CoreHost::TranscodeStatus() {
  return m_jobs->Status(jobs::JobKind::kTranscode);
}

bool CoreHost::StartAnalysis(const std::string& input, const std::string& preview) {
  const std::optional<std::string> in = WorkPath(input), out = WorkPath(preview);
  if (!in || !out) return false;
  return media::StartAnalysis(m_jobs, m_moduleDir, *in, *out, m_work.Path());
}
int32_t CoreHost::AnalysisStatus() {
  return m_jobs->Status(jobs::JobKind::kAnalysis);
}
std::string CoreHost::AnalysisResult() {
  return m_jobs->Analysis();
}

bool CoreHost::StartUpload(const std::string& path, const std::string& sessionId) {
  const std::optional<std::string> file = WorkPath(path);
  return file && net::StartUpload(m_jobs, *file, sessionId);
}
int32_t CoreHost::UploadStatus() {
  return m_jobs->Status(jobs::JobKind::kUpload);
}

const std::shared_ptr<media::CdAccess>& CoreHost::Cd() {
  if (!m_cd) m_cd = media::MakeDefaultCdAccess();
  return m_cd;
}

bool CoreHost::StartGrab(const std::string& drive, const std::string& track,
                         const std::string& output) {
  const std::optional<std::string> out = WorkPath(output);
  return out && media::StartGrab(m_jobs, Cd(), drive, track, *out);
}
int32_t CoreHost::GrabStatus() {
  return m_jobs->Status(jobs::JobKind::kGrab);
}

CdListing CoreHost::ListCdDrives() {
  return media::GetDrivesInfo(*Cd());
}
CdListing CoreHost::ListCdTracks(int32_t drive) {
  return media::GetTracksInfo(*Cd(), drive);
}

bool CoreHost::CancelJob() {
  m_jobs->Cancel();
  return true;
}

bool CoreHost::StartNormalize(const std::string& path) {
  const std::optional<std::string> file = WorkPath(path);
  return file && media::StartNormalize(m_jobs, m_moduleDir, *file);
}
int32_t CoreHost::NormalizeStatus() {
  return m_jobs->Status(jobs::JobKind::kNormalize);
}

}  // namespace zb
