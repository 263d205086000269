#include "net/http_request.h"

#include <memory>

#include "jobs/job_status.h"
#include "net/charset.h"
#include "net/percent_encode.h"
#include "net/transfer.h"
#include "platform/service_host.h"
#include "platform/translation.h"

namespace zb::net {
namespace {

// Translated where it is shown (the box is the main thread's).
constexpr char kNoHandleBox[] =
    N_("Cannot initialize XMLHTTP Transporter.\n\nIn order to use Zimbrel you must have MSXML "
       "installed       \non your computer.");
// An answer body larger than this fails the request (not sent):
// decoded to UTF-8 it grows at most threefold, so the response text always
// fits in one reply of the page bridge (64 MiB; the bridge tests pin it).
constexpr size_t kMaxBody = size_t{16} << 20;

// Relative URLs ("/...") go to the service; bytes that cannot stand in a URL
// (controls, space, DEL, non-ASCII) are percent-encoded as a browser would.
std::string PrepareUrl(const std::string& url, const std::string& serviceBase) {
  std::string full = (!url.empty() && url[0] == '/') ? serviceBase + url : url;
  return PercentEncode(full, kUrl);
}

struct Sink {
  std::string body;
  bool tooLarge = false;
};

size_t Collect(char* data, size_t size, size_t count, void* user) {
  Sink& s = *static_cast<Sink*>(user);
  size_t n = size * count;
  if (s.body.size() + n > kMaxBody) {
    s.tooLarge = true;
    return 0;  // curl ends the transfer with a write error
  }
  s.body.append(data, n);
  return n;
}

// The response for ZBL_xhResponse; `*store` becomes false when a cancel
// leaves the response as the start left it (empty).
// `socketPath`, when set, is the service's Unix socket the request goes to.
jobs::HttpResponse Fetch(const std::shared_ptr<jobs::JobState>& state, jobs::JobTicket& ticket,
                         const std::string& url, const std::string& socketPath, bool* store) {
  *store = true;
  std::unique_ptr<CURLU, void (*)(CURLU*)> parsed(curl_url(), curl_url_cleanup);
  Transfer t;  // destroyed before the parsed URL it uses
  if (!t.Ok() || !parsed) {
    // No request handle: the message box is shown on the main thread, and
    // this job waits until it has been closed.
    if (state->showMessageBox) state->showMessageBox(kNoHandleBox);
    return Fail(jobs::HttpFailure::kNoHandle);
  }
  if (CURLUcode rc = curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0); rc != CURLUE_OK)
    return Fail(jobs::HttpFailure::kBadUrl, rc);
  char* scheme = nullptr;
  if (CURLUcode rc = curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0); rc != CURLUE_OK)
    return Fail(jobs::HttpFailure::kBadUrl, rc);
  std::string s = scheme;
  curl_free(scheme);
  if (s != "http" && s != "https") return Fail(jobs::HttpFailure::kBadUrl);

  Sink sink;
  CURL* e = t.Easy();
  curl_easy_setopt(e, CURLOPT_CURLU, parsed.get());
  if (!socketPath.empty()) {
    // The service's own socket: no proxy, and no redirect may lead elsewhere
    // while curl still connects to the socket.
    curl_easy_setopt(e, CURLOPT_UNIX_SOCKET_PATH, socketPath.c_str());
    curl_easy_setopt(e, CURLOPT_NOPROXY, "*");
  }
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, socketPath.empty() ? 1L : 0L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, 20L);
  // Ask for, and decode, every encoding libcurl supports: a server may send
  // a compressed body even to a request that names none (nginx with
  // "gzip_static always"), and the page is to get text, never those bytes.
  // The size limit applies to the decoded body.
  curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &sink);
  TransferEnd end = t.Run([&ticket] { return ticket.Cancelled(); });
  if (end) {
    const char* type = nullptr;
    curl_easy_getinfo(e, CURLINFO_CONTENT_TYPE, &type);
    return DecodeToUtf8(sink.body, CharsetOf(type ? type : ""));
  }
  switch (end.Reason()) {
    case TransferFailure::kCancelled:
      *store = false;
      return {};
    case TransferFailure::kTimedOut:
      return Fail(jobs::HttpFailure::kNotSent, CURLE_OPERATION_TIMEDOUT);
    case TransferFailure::kFailed:
      break;
  }
  return Fail(jobs::HttpFailure::kNotSent, end.Detail());
}

}  // namespace

bool StartHttpRequest(const std::shared_ptr<jobs::JobState>& state, const std::string& url) {
  const ServiceHost service = GetServiceHost();
  std::string full = PrepareUrl(url, service.BaseUrl());
  // Only the service's own addresses go to its socket.
  std::string socketPath = !url.empty() && url[0] == '/' ? service.socketPath : std::string();
  return jobs::StartJob(
      state, jobs::JobKind::kHttp,
      [full = std::move(full), socketPath = std::move(socketPath)](jobs::JobTicket& t) {
        t.SetStatus(jobs::status::kRunning);
        bool store = true;
        jobs::HttpResponse response = Fetch(t.State(), t, full, socketPath, &store);
        if (store) t.SetResponse(std::move(response));
        t.SetStatus(jobs::status::kHttpDone);  // after the response, which it publishes
      });
}

}  // namespace zb::net
