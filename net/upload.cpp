#include "net/upload.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>

#include "jobs/job_status.h"
#include "net/percent_encode.h"
#include "net/transfer.h"
#include "platform/service_host.h"

namespace zb::net {
namespace {

// Bytes read from the file and handed to curl at a time: as large as curl's
// own upload buffer, so that each write to the socket moves as much as the
// curl program's would.
constexpr size_t kChunk = 64 * 1024;
// The status counts the file in steps of this many bytes, and never counts
// the step that completes the file (the pages have always seen these figures).
constexpr uint64_t kStatusStep = 2048;
constexpr int32_t kDone = jobs::status::kUploadDone;
constexpr int32_t kFailed = jobs::status::kUploadFailed;
constexpr int32_t kRefused = jobs::status::kUploadRefused;
constexpr char kClientName[] = "ZMBL/1.0 (Quorvane)";
constexpr char kPath[] = "/cgi-bin/zbl_upload2.cgi";

// What the upload thread needs, all read on the starting thread.
struct Request {
  std::string file;
  std::string url;         // the whole URL; curl picks the target's form for the route
  std::string socketPath;  // set: the service's Unix socket
};

class Fd {
 public:
  explicit Fd(int fd) : m_fd(fd) {}
  ~Fd() {
    if (m_fd >= 0) ::close(m_fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return m_fd; }

 private:
  int m_fd;
};

// The body's state between two calls of the read callback.
struct Body {
  int fd = -1;
  uint64_t size = 0;
  uint64_t sent = 0;    // bytes curl has written to the connection
  size_t inFlight = 0;  // the chunk handed to curl last
  jobs::JobTicket* ticket = nullptr;
  Transfer* transfer = nullptr;
  CURL* easy = nullptr;
  // The service answered before the whole body was written: the answer is
  // not one to the request as announced, so the upload has failed.
  bool answeredEarly = false;
  // The head of the answer to the whole body has come: the upload is done.
  bool answered = false;
  // The status of an early answer, when it could be read (413, 507, ...).
  long earlyStatus = 0;
  // The status of the answer to the whole body.
  long finalStatus = 0;
  int32_t shown = 0;  // the percentage last published
  std::chrono::steady_clock::time_point lastLook;
};

int32_t Percent(uint64_t sent, uint64_t size) {
  return static_cast<int32_t>(static_cast<unsigned __int128>(sent) * 100 / size);
}

// Publishes the share of the file that has left the machine: the body bytes
// curl has written minus those the socket still holds, unsent or not yet
// acknowledged by the peer (so a large send buffer never shows a file as
// sent while the service still waits for most of it). It never counts the
// step that completes the file, so the status stays below 100 until the
// answer comes. Looked at no more often than every 2 ms: after every chunk,
// and whenever the transfer waits for the socket (which covers the time it
// takes to drain after the last chunk).
void Refresh(Body& b) {
  if (b.size == 0) return;
  auto now = std::chrono::steady_clock::now();
  if (now - b.lastLook < std::chrono::milliseconds(2)) return;
  b.lastLook = now;
  curl_off_t written = 0;
  curl_easy_getinfo(b.easy, CURLINFO_SIZE_UPLOAD_T, &written);
  uint64_t gone = written > 0 ? static_cast<uint64_t>(written) : 0;
  long unsent = b.transfer->Unsent();
  if (unsent > 0) gone = gone > static_cast<uint64_t>(unsent) ? gone - unsent : 0;
  const uint64_t beforeLastStep = (b.size - 1) / kStatusStep * kStatusStep;
  int32_t pct = Percent(std::min(gone, beforeLastStep), b.size);
  if (pct > b.shown) {
    b.shown = pct;
    b.ticket->SetStatus(pct);
  }
}

// Ends the request short: the connection is reset, so the service sees
// fewer bytes than announced even when the rest already sat in the socket's
// send buffer.
size_t GiveUp(Body& b) {
  b.transfer->ResetOnClose();
  return CURL_READFUNC_ABORT;
}

// curl calls this again only once it has written the chunk handed last time,
// so that chunk is counted here: the cancel flag is looked at after each
// chunk that did not finish the file (curl asks for no more once the
// announced length is reached).
//
// An early answer is caught in two ways: curl reads it while the body still
// goes out (OnHeader), or it waits unread on the socket when the chunk that
// completes the body is handed over (curl is told the socket is writable
// while bytes move, so it may not have looked at the answer yet). Known
// race: an answer that arrives between that last look and the write of the
// last chunk counts as an answer to the whole body.
size_t ReadChunk(char* buf, size_t size, size_t count, void* user) {
  Body& b = *static_cast<Body*>(user);
  if (b.inFlight > 0) {
    b.sent += b.inFlight;
    b.inFlight = 0;
    Refresh(b);
    if (b.ticket->Cancelled()) return GiveUp(b);
    // An answer before the whole body went out (a service refusing the
    // upload at its head, e.g. over its quota) ends the upload at once,
    // whether or not curl has read it yet.
    if (!b.answeredEarly && b.sent < b.size && b.transfer->AnswerWaiting()) {
      b.answeredEarly = true;
      if (b.earlyStatus == 0) b.earlyStatus = b.transfer->WaitingStatus();
    }
  }
  if (b.answeredEarly) return GiveUp(b);
  uint64_t left = b.size - b.sent;
  size_t want = std::min<uint64_t>({kChunk, size * count, left});
  if (want == 0) return 0;
  ssize_t r;
  do {
    r = ::read(b.fd, buf, want);
  } while (r < 0 && errno == EINTR);
  // A read error, or a file that shrank below the length already announced:
  // the request cannot be completed honestly.
  if (r <= 0) return GiveUp(b);
  if (static_cast<uint64_t>(r) == left && b.transfer->AnswerWaiting()) {
    b.answeredEarly = true;
    if (b.earlyStatus == 0) b.earlyStatus = b.transfer->WaitingStatus();
    return GiveUp(b);
  }
  b.inFlight = static_cast<size_t>(r);
  return static_cast<size_t>(r);
}

// Each line of the answer's head; only its timing matters. A line before
// the whole body was written marks an early answer; the empty line that ends
// the head of a final answer (not an interim 1xx one) to the whole body ends
// the upload: the answer's body is never waited for.
size_t OnHeader(char* line, size_t size, size_t count, void* user) {
  Body& b = *static_cast<Body*>(user);
  const size_t n = size * count;
  curl_off_t written = 0;
  curl_easy_getinfo(b.easy, CURLINFO_SIZE_UPLOAD_T, &written);
  long code = 0;
  curl_easy_getinfo(b.easy, CURLINFO_RESPONSE_CODE, &code);
  if (static_cast<uint64_t>(written) < b.size) {
    b.answeredEarly = true;
    if (code >= 200) b.earlyStatus = code;
  }
  bool endOfHead = (n == 2 && line[0] == '\r' && line[1] == '\n') || (n == 1 && line[0] == '\n');
  if (!endOfHead || b.answeredEarly) return n;
  if (code >= 100 && code < 200) return n;
  b.answered = true;
  b.finalStatus = code;
  return 0;  // curl stops here
}

// The service's answer is not read: its body is dropped.
size_t Discard(char*, size_t size, size_t count, void*) {
  return size * count;
}

// The request's headers besides Host, User-Agent and Content-Length, which
// curl writes itself; the empty ones remove curl's defaults.
curl_slist* Headers() {
  curl_slist* h = nullptr;
  for (const char* line : {"Accept:", "Expect:", "Proxy-Connection:", "Content-Type: audio/mpeg",
                           "Pragma: no-cache"}) {
    curl_slist* n = curl_slist_append(h, line);
    if (!n) {
      curl_slist_free_all(h);
      return nullptr;
    }
    h = n;
  }
  return h;
}

int32_t RunUpload(jobs::JobTicket& ticket, const Request& rq) {
  // O_NONBLOCK so that a FIFO given as the file cannot hold the thread.
  Fd fd(::open(rq.file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.Get() < 0) return kFailed;
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return kFailed;

  Body body;
  body.fd = fd.Get();
  body.size = static_cast<uint64_t>(st.st_size);
  body.ticket = &ticket;

  std::unique_ptr<curl_slist, void (*)(curl_slist*)> headers(Headers(), curl_slist_free_all);
  if (!headers) return kFailed;
  Transfer t;  // destroyed before the header list it uses
  if (!t.Ok()) return kFailed;
  CURL* e = t.Easy();
  body.transfer = &t;
  body.easy = e;
  // The proxy (http_proxy, all_proxy, no_proxy) is curl's choice from the
  // environment, and with it the target's form: absolute through an HTTP
  // proxy, the origin form directly or through SOCKS.
  if (curl_easy_setopt(e, CURLOPT_URL, rq.url.c_str()) != CURLE_OK) return kFailed;
  if (!rq.socketPath.empty()) {
    curl_easy_setopt(e, CURLOPT_UNIX_SOCKET_PATH, rq.socketPath.c_str());
    curl_easy_setopt(e, CURLOPT_NOPROXY, "*");
  }
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
  curl_easy_setopt(e, CURLOPT_USERAGENT, kClientName);
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(e, CURLOPT_POST, 1L);
  curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size));
  curl_easy_setopt(e, CURLOPT_UPLOAD_BUFFERSIZE, static_cast<long>(kChunk));
  curl_easy_setopt(e, CURLOPT_READFUNCTION, &ReadChunk);
  curl_easy_setopt(e, CURLOPT_READDATA, &body);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Discard);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, &body);
  t.onWake = [&body] { Refresh(body); };
  (void)t.Run([&ticket] { return ticket.Cancelled(); });  // judged by the answer, below

  // Done when the whole body went out and then the head of an answer came
  // back, whatever followed it (an answer that came before the end of the
  // body ends nothing; no answer at all ends in the idle time-out). An
  // answer that says the service has no room for the file (413 Content Too
  // Large, 507 Insufficient Storage) is told apart, early or not: a small
  // file may be written whole before the refusal of its head arrives, and
  // was not delivered all the same.
  auto noRoom = [](long status) { return status == 413 || status == 507; };
  if (body.answered) return noRoom(body.finalStatus) ? kRefused : kDone;
  if (body.answeredEarly && noRoom(body.earlyStatus)) return kRefused;
  return kFailed;
}

}  // namespace

bool StartUpload(const std::shared_ptr<jobs::JobState>& state, const std::string& file,
                 const std::string& sessionId) {
  const ServiceHost service = GetServiceHost();
  Request rq{file,
             service.BaseUrl() + kPath + "?sid=" + PercentEncode(sessionId, kSessionId) +
                 "&ver=" + kVersionCode + "&aff=" + kAffiliateCode,
             service.socketPath};
  return jobs::StartJob(state, jobs::JobKind::kUpload, [rq = std::move(rq)](jobs::JobTicket& t) {
    t.SetStatus(jobs::status::kRunning);
    t.SetStatus(RunUpload(t, rq));
  });
}

}  // namespace zb::net
