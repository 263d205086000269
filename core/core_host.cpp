#include "core/core_host.h"

#include "media/cd_jobs.h"
#include "media/normalize.h"
#include "media/song_analysis.h"
#include "media/transcode.h"
#include "net/http_request.h"
#include "net/upload.h"

namespace zb {

CoreHost::CoreHost(std::string moduleDir, std::shared_ptr<media::CdAccess> cd)
    : m_moduleDir(std::move(moduleDir)),
      m_jobs(std::make_shared<jobs::JobState>()),
      m_work(m_moduleDir),
      m_cd(std::move(cd)) {}

CoreHost::~CoreHost() = default;

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

std::string CoreHost::WorkPath(const std::string& pagePath) {
  std::string path = m_work.Map(pagePath);
  if (path != pagePath) PrepareWorkFolder(m_work.Path());
  return path;
}

bool CoreHost::StartTranscode(const std::string& input, const std::string& output,
                              const std::string& startMs, const std::string& lengthMs,
                              const std::string& fadeMs, const std::string& fadeOutMs) {
  std::optional<media::TranscodePart> part;
  if (!media::ReadTranscodePart(startMs, lengthMs, fadeMs, fadeOutMs, &part)) return false;
  return media::StartTranscode(m_jobs, m_moduleDir, WorkPath(input), WorkPath(output),
                               m_work.Path(), part);
}
int32_t CoreHost::TranscodeStatus() {
  return m_jobs->Status(jobs::JobKind::kTranscode);
}

bool CoreHost::StartAnalysis(const std::string& input, const std::string& preview) {
  return media::StartAnalysis(m_jobs, m_moduleDir, WorkPath(input), WorkPath(preview),
                              m_work.Path());
}
int32_t CoreHost::AnalysisStatus() {
  return m_jobs->Status(jobs::JobKind::kAnalysis);
}
std::string CoreHost::AnalysisResult() {
  return m_jobs->Analysis();
}

bool CoreHost::StartUpload(const std::string& path, const std::string& sessionId) {
  return net::StartUpload(m_jobs, WorkPath(path), sessionId);
}
int32_t CoreHost::UploadStatus() {
  return m_jobs->Status(jobs::JobKind::kUpload);
}

const std::shared_ptr<media::CdAccess>& CoreHost::cd() {
  if (!m_cd) m_cd = media::MakeDefaultCdAccess();
  return m_cd;
}

bool CoreHost::StartGrab(const std::string& drive, const std::string& track,
                         const std::string& output) {
  return media::StartGrab(m_jobs, cd(), drive, track, WorkPath(output));
}
int32_t CoreHost::GrabStatus() {
  return m_jobs->Status(jobs::JobKind::kGrab);
}

media::CdListing CoreHost::ListCdDrives() {
  return media::GetDrivesInfo(*cd());
}
media::CdListing CoreHost::ListCdTracks(int32_t drive) {
  return media::GetTracksInfo(*cd(), drive);
}

bool CoreHost::CancelJob() {
  m_jobs->Cancel();
  return true;
}

bool CoreHost::StartNormalize(const std::string& path) {
  return media::StartNormalize(m_jobs, m_moduleDir, WorkPath(path));
}
int32_t CoreHost::NormalizeStatus() {
  return m_jobs->Status(jobs::JobKind::kNormalize);
}

}  // namespace zb
