#include "bridge/core_host.h"

#include "bridge/page_texts.h"
#include "media/cd_jobs.h"
#include "media/normalize.h"
#include "media/transcode.h"
#include "net/http_request.h"
#include "net/upload.h"

namespace zb {

CoreHost::CoreHost(std::string moduleDir, std::shared_ptr<media::CdAccess> cd)
    : m_moduleDir(std::move(moduleDir)),
      m_jobs(std::make_shared<jobs::JobState>()),
      m_work(m_moduleDir),
      m_registry("Software\\Zimbrel", 2),
      m_ZBName(m_registry, "ZBName"),
      m_ZBPhone(m_registry, "ZBPhone"),
      m_ZBNetwork(m_registry, "ZBNetwork"),
      m_ZBAid(m_registry, "ZBAid"),
      m_ZBNVCheck(m_registry, "ZBNVCheck"),
      m_ZBInstDir(m_registry, "ZBInstDir"),
      m_cd(std::move(cd)) {}

// Members are destroyed in reverse: ZBInstDir back to ZBName, then registry.
CoreHost::~CoreHost() = default;

std::string CoreHost::GetZBName() {
  return m_ZBName.get();
}
void CoreHost::SetZBName(const std::string& v) {
  m_ZBName.set(v);
}
std::string CoreHost::GetZBPhone() {
  return m_ZBPhone.get();
}
void CoreHost::SetZBPhone(const std::string& v) {
  m_ZBPhone.set(v);
}
std::string CoreHost::GetZBNetwork() {
  return m_ZBNetwork.get();
}
void CoreHost::SetZBNetwork(const std::string& v) {
  m_ZBNetwork.set(v);
}

std::string CoreHost::GetZBAid() {
  std::string v = m_ZBAid.get();
  if (v.empty()) {
    SetZBAid("2");
    return "2";
  }
  return v;
}
void CoreHost::SetZBAid(const std::string& v) {
  m_ZBAid.set(v);
}

std::string CoreHost::GetZBNVCheck() {
  std::string v = m_ZBNVCheck.get();
  if (v.empty()) {
    SetZBNVCheck("0");
    return "0";
  }
  return v;
}
void CoreHost::SetZBNVCheck(const std::string& v) {
  m_ZBNVCheck.set(v);
}

std::string CoreHost::clFileName() {
  std::string f = std::move(m_commandLineFile);
  m_commandLineFile.clear();
  return f;
}

bool CoreHost::MakeHttpRequest(const std::string& url) {
  return net::StartHttpRequest(m_jobs, url);
}
int32_t CoreHost::xhStatus() {
  return m_jobs->Status(jobs::JobKind::kHttp);
}
std::string CoreHost::xhResponse() {
  return PageText(m_jobs->Response());
}

std::string CoreHost::WorkPath(const std::string& pagePath) {
  std::string path = m_work.Map(pagePath);
  if (path != pagePath) PrepareWorkFolder(m_work.path());
  return path;
}

bool CoreHost::TranscodeMedia(const std::string& input, const std::string& output) {
  return media::StartTranscode(m_jobs, m_moduleDir, WorkPath(input), WorkPath(output),
                               m_work.path());
}
int32_t CoreHost::tsStatus() {
  return m_jobs->Status(jobs::JobKind::kTranscode);
}

bool CoreHost::UploadFile(const std::string& path, const std::string& sessionId) {
  return net::StartUpload(m_jobs, WorkPath(path), sessionId);
}
int32_t CoreHost::upStatus() {
  return m_jobs->Status(jobs::JobKind::kUpload);
}

media::CdAccess& CoreHost::cd() {
  if (!m_cd) m_cd = media::MakeDefaultCdAccess();
  return *m_cd;
}

bool CoreHost::GrabAudioDataFromCD(const std::string& drive, const std::string& track,
                                   const std::string& output) {
  cd();
  return m_cd ? media::StartGrab(m_jobs, m_cd, drive, track, WorkPath(output)) : false;
}
int32_t CoreHost::ripStatus() {
  return m_jobs->Status(jobs::JobKind::kRip);
}

std::string CoreHost::GetDrivesInfo() {
  cd();
  return m_cd ? PageText(media::GetDrivesInfo(*m_cd)) : PageText(media::CdFailure::kNoDrives);
}
std::string CoreHost::GetTracksInfo(int32_t drive) {
  cd();
  return m_cd ? PageText(media::GetTracksInfo(*m_cd, drive))
              : PageText(media::CdFailure::kInvalidDrive);
}

bool CoreHost::BreakAsyncOperation() {
  m_jobs->RequestBreak();
  return true;
}

bool CoreHost::NormalizeAudio(const std::string& path) {
  return media::StartNormalize(m_jobs, m_moduleDir, WorkPath(path));
}
int32_t CoreHost::norStatus() {
  return m_jobs->Status(jobs::JobKind::kNormalize);
}

}  // namespace zb
