// The socket server that web processes call: requests answered through the
// scripting object, and hostile input closing the connection.
#include "bridge/bridge_server.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "bridge/bridge_wire.h"
#include "bridge/external_dispatch.h"
#include "core/core_host.h"
#include "jobs/job_state.h"
#include "net/raw_server.h"
#include "page_host.h"
#include "temp_dir.h"

namespace zb {
namespace {

using testing::ScopedEnv;
using testing::TempDir;

int Connect(const std::string& path) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// A connection that has named its page with the server's secret, as the
// program's own web processes do.
int Open(const BridgeServer& server, uint64_t pageId = 1) {
  int fd = Connect(server.SocketPath());
  std::string payload;
  wire::Reply r;
  if (fd < 0 || !wire::WriteFully(fd, wire::Frame(wire::EncodeHello(pageId, server.Secret()))) ||
      !wire::ReadFrame(fd, &payload) || !wire::DecodeReply(payload, wire::kOpHello, &r) || !r.ok) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  return fd;
}

class BridgeServerTest : public ::testing::Test {
 protected:
  TempDir m_dir;
  ScopedEnv m_env{"ZIMBREL_REGISTRY_DIR", m_dir.Path()};
  CoreHost m_host{m_dir.Path(), testing::Quiet()};
  CExternalDispatch m_disp{[this]() -> CoreHost* { return &m_host; }};
  BridgeServer m_server{&m_disp};

  // Runs `client` on a thread while this thread serves the main context.
  void RunClient(const std::function<void()>& client) {
    std::atomic<bool> done{false};
    std::thread t([&] {
      client();
      done = true;
    });
    while (!done) g_main_context_iteration(nullptr, FALSE), std::this_thread::yield();
    t.join();
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
  }
};

TEST_F(BridgeServerTest, LookupsAndCallsRoundTrip) {
  ASSERT_TRUE(m_server.Start());
  RunClient([&] {
    int fd = Open(m_server);
    ASSERT_GE(fd, 0);
    std::string payload;
    wire::Reply r;
    ASSERT_TRUE(wire::WriteFully(fd, wire::Frame(wire::EncodeLookup("ZBL_tsStatus"))));
    ASSERT_TRUE(wire::ReadFrame(fd, &payload));
    ASSERT_TRUE(wire::DecodeReply(payload, wire::kOpLookup, &r));
    EXPECT_EQ(r.dispid, 27);
    EXPECT_EQ(r.kind, wire::kKindProperty);
    ASSERT_TRUE(wire::WriteFully(fd, wire::Frame(wire::EncodeLookup("nope"))));
    ASSERT_TRUE(wire::ReadFrame(fd, &payload));
    ASSERT_TRUE(wire::DecodeReply(payload, wire::kOpLookup, &r));
    EXPECT_EQ(r.dispid, DISPID_UNKNOWN);

    // A 1 MB string through a setter and back.
    std::vector<wire::Value> args(1);
    args[0].tag = wire::Tag::kString;
    args[0].s = std::string(1 << 20, 'z');
    ASSERT_TRUE(wire::WriteFully(fd, wire::Frame(wire::EncodeInvoke(5, DISPATCH_METHOD, args))));
    ASSERT_TRUE(wire::ReadFrame(fd, &payload));
    ASSERT_TRUE(wire::WriteFully(fd, wire::Frame(wire::EncodeInvoke(4, DISPATCH_METHOD, {}))));
    ASSERT_TRUE(wire::ReadFrame(fd, &payload));
    ASSERT_TRUE(wire::DecodeReply(payload, wire::kOpInvoke, &r));
    EXPECT_EQ(r.result.s.size(), size_t{1} << 20);
    ::close(fd);
  });
  EXPECT_EQ(m_server.PendingRequests(), 0);
}

TEST_F(BridgeServerTest, MalformedOrOversizedInputClosesOnlyThatConnection) {
  ASSERT_TRUE(m_server.Start());
  RunClient([&] {
    int bad = Open(m_server);
    int good = Open(m_server);
    ASSERT_TRUE(wire::WriteFully(bad, wire::Frame(std::string("\x07garbage", 8))));
    std::string payload;
    EXPECT_FALSE(wire::ReadFrame(bad, &payload));  // closed, no reply
    ::close(bad);
    int huge = Open(m_server);
    ASSERT_TRUE(wire::WriteFully(huge, std::string("\xFF\xFF\xFF\xFF", 4)));
    EXPECT_FALSE(wire::ReadFrame(huge, &payload));
    ::close(huge);
    // Half a frame, then the peer goes away: nothing stays pending.
    int half = Open(m_server);
    ASSERT_TRUE(wire::WriteFully(half, std::string("\x10\x00\x00\x00\x02", 5)));
    ::close(half);
    ASSERT_TRUE(wire::WriteFully(good, wire::Frame(wire::EncodeInvoke(14, DISPATCH_METHOD, {}))));
    ASSERT_TRUE(wire::ReadFrame(good, &payload));
    wire::Reply r;
    ASSERT_TRUE(wire::DecodeReply(payload, wire::kOpInvoke, &r));
    EXPECT_EQ(r.result.s, "260");
    ::close(good);
  });
  EXPECT_EQ(m_server.PendingRequests(), 0);
}

// The server waits for a page's next call in a blocking read, bounded by the
// socket's receive time-out: a page that goes quiet after a call, but stays
// connected, hands the main loop back within a few clock ticks.
TEST_F(BridgeServerTest, AQuietPageHandsTheMainLoopBackAtOnce) {
  ASSERT_TRUE(m_server.Start());
  using Clock = std::chrono::steady_clock;
  std::atomic<int64_t> replied{0};
  std::atomic<bool> done{false};
  std::thread page([&] {
    int fd = Open(m_server);
    std::string payload;
    if (fd >= 0 && wire::WriteFully(fd, wire::Frame(wire::EncodeInvoke(14, DISPATCH_METHOD, {}))) &&
        wire::ReadFrame(fd, &payload))
      replied = Clock::now().time_since_epoch().count();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));  // quiet, still connected
    if (fd >= 0) ::close(fd);
    done = true;
  });
  // A 1 ms timer on the main loop notes the first time it runs after the reply.
  struct Ticks {
    std::atomic<int64_t>* replied;
    int64_t firstAfter = 0;
  } ticks{&replied};
  guint timer = g_timeout_add(
      1,
      [](gpointer p) -> gboolean {
        auto* t = static_cast<Ticks*>(p);
        int64_t now = Clock::now().time_since_epoch().count();
        if (*t->replied && !t->firstAfter) t->firstAfter = now;
        return G_SOURCE_CONTINUE;
      },
      &ticks);
  while (!done) g_main_context_iteration(nullptr, TRUE);
  page.join();
  g_source_remove(timer);
  ASSERT_NE(replied.load(), 0);
  ASSERT_NE(ticks.firstAfter, 0);
  EXPECT_LT(std::chrono::nanoseconds(ticks.firstAfter - replied.load()),
            std::chrono::milliseconds(100));
}

// One call over the connection; its result.
wire::Value Call(int fd, int32_t dispid, uint16_t flags, std::vector<wire::Value> args = {}) {
  std::string payload;
  wire::Reply r;
  EXPECT_TRUE(wire::WriteFully(fd, wire::Frame(wire::EncodeInvoke(dispid, flags, args))));
  EXPECT_TRUE(wire::ReadFrame(fd, &payload)) << "the connection ended";
  EXPECT_TRUE(wire::DecodeReply(payload, wire::kOpInvoke, &r));
  return r.result;
}

// Tens of megabytes through the text conversions take minutes under
// ThreadSanitizer; these single-threaded size checks run in the plain and
// AddressSanitizer builds.
#if defined(__SANITIZE_THREAD__)
#define SKIP_UNDER_TSAN() GTEST_SKIP() << "size check: plain and AddressSanitizer builds"
#else
#define SKIP_UNDER_TSAN() (void)0
#endif

wire::Value Text(std::string s) {
  wire::Value v;
  v.tag = wire::Tag::kString;
  v.s = std::move(s);
  return v;
}

// A result no frame can carry (a dialog value of 22 MiB of bytes that are
// not UTF-8 reads back as 66 MiB of replacement characters) is answered as
// the empty text of the call, and the page's connection goes on serving.
TEST_F(BridgeServerTest, AResultTooLargeForAFrameIsEmptyAndTheBridgeStaysUp) {
  SKIP_UNDER_TSAN();
  ASSERT_TRUE(m_server.Start());
  RunClient([&] {
    int fd = Open(m_server);
    ASSERT_GE(fd, 0);
    Call(fd, 16, DISPATCH_METHOD, {Text(std::string(size_t{22} << 20, '\xFF'))});
    wire::Value big = Call(fd, 15, DISPATCH_METHOD);  // ZBL_GetDialogArgument
    EXPECT_EQ(big.tag, wire::Tag::kString);
    EXPECT_EQ(big.s, "");
    EXPECT_EQ(Call(fd, 14, DISPATCH_METHOD).s, "260");
    Call(fd, 16, DISPATCH_METHOD, {Text("small")});
    EXPECT_EQ(Call(fd, 15, DISPATCH_METHOD).s, "small");
    ::close(fd);
  });
  EXPECT_EQ(m_server.PendingRequests(), 0);
}

// The largest answer a scripted GET takes (16 MiB, every byte of which
// becomes a three-byte replacement character) reaches the page whole.
TEST_F(BridgeServerTest, TheLargestResponseTextCrossesTheBridgeWhole) {
  SKIP_UNDER_TSAN();
  const size_t body = size_t{16} << 20;
  zb::testing::RawServer web([&](zb::testing::RawConnection& c) {
    if (c.ReadHead())
      c.Send("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + std::string(body, '\xFF'));
  });
  ASSERT_TRUE(m_server.Start());
  RunClient([&] {
    int fd = Open(m_server);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(Call(fd, 23, DISPATCH_METHOD, {Text("http://" + web.Authority() + "/big")}).b);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (Call(fd, 24, DISPATCH_PROPERTYGET).i != 1 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    wire::Value text = Call(fd, 25, DISPATCH_PROPERTYGET);
    EXPECT_EQ(text.s.size(), body * 3);
    EXPECT_EQ(text.s.substr(0, 6), "\xEF\xBF\xBD\xEF\xBF\xBD");
    ::close(fd);
  });
  EXPECT_TRUE(jobs::WaitForJobThreadsForTesting(10000));
}

// A request and its reply on a blocking client socket.
bool Ask(int fd, const std::string& request, uint8_t op, wire::Reply* r) {
  std::string payload;
  return wire::WriteFully(fd, wire::Frame(request)) && wire::ReadFrame(fd, &payload) &&
         wire::DecodeReply(payload, op, r);
}

TEST_F(BridgeServerTest, ConnectionsNameTheirPageAndPagesNoWindowShowsAreRefused) {
  ASSERT_TRUE(m_server.Start());
  std::vector<uint64_t> asked;
  m_server.SetCallerFilter([&](uint64_t page) {
    EXPECT_EQ(BridgeServer::CallerPageId(), page);  // the request being served
    asked.push_back(page);
    return page == 7;
  });
  RunClient([&] {
    wire::Reply r;
    int shown = Open(m_server, 7);
    ASSERT_GE(shown, 0);
    ASSERT_TRUE(Ask(shown, wire::EncodeInvoke(14, DISPATCH_METHOD, {}), wire::kOpInvoke, &r));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.result.s, "260");

    // A page that no window shows: errors, on a connection that stays open.
    int hidden = Open(m_server, 8);
    ASSERT_GE(hidden, 0);
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(Ask(hidden, wire::EncodeLookup("ZBL_GetVersion"), wire::kOpLookup, &r));
      EXPECT_FALSE(r.ok);
      EXPECT_EQ(r.error, "this page is not shown in a window of the program");
    }
    // A page is named once.
    std::string payload;
    ASSERT_TRUE(wire::WriteFully(shown, wire::Frame(wire::EncodeHello(9, m_server.Secret()))));
    EXPECT_FALSE(wire::ReadFrame(shown, &payload));
    for (int fd : {shown, hidden}) ::close(fd);
  });
  EXPECT_EQ(asked, (std::vector<uint64_t>{7, 8, 8}));
  EXPECT_EQ(BridgeServer::CallerPageId(), 0u);
  EXPECT_EQ(m_server.PendingRequests(), 0);
}

// A process of this user that is not one of the program's web processes
// knows the socket but not the secret: whatever it sends first, a guessed
// page id or a call, the connection ends unanswered and nothing runs.
TEST_F(BridgeServerTest, OnlyAHelloWithTheSecretOpensAConnection) {
  ASSERT_TRUE(m_server.Start());
  EXPECT_EQ(m_server.Secret().size(), 64u);
  BridgeServer other(&m_disp);
  ASSERT_TRUE(other.Start());
  EXPECT_NE(other.Secret(), m_server.Secret());  // a fresh one each start
  std::vector<uint64_t> asked;
  m_server.SetCallerFilter([&](uint64_t page) {
    asked.push_back(page);
    return true;
  });
  std::vector<wire::Value> name(1);
  name[0].tag = wire::Tag::kString;
  name[0].s = "intruder";
  const std::string setName = wire::EncodeInvoke(5, DISPATCH_METHOD, name);  // ZBL_SetZBName
  const std::vector<std::string> firsts = {
      setName,                                   // no hello at all
      wire::EncodeLookup("ZBL_TranscodeMedia"),  // nor before a lookup
      wire::EncodeHello(1, ""),                  // guessed page ids, no secret
      wire::EncodeHello(7, "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef"),
      wire::EncodeHello(7, other.Secret()),                   // another run's secret
      wire::EncodeHello(7, m_server.Secret().substr(0, 63)),  // nearly the secret
      wire::EncodeHello(0, m_server.Secret()),                // the secret, but no page
  };
  RunClient([&] {
    for (size_t i = 0; i < firsts.size(); ++i) {
      int fd = Connect(m_server.SocketPath());
      ASSERT_GE(fd, 0);
      // The first request and a call right behind it: neither is answered.
      ASSERT_TRUE(wire::WriteFully(fd, wire::Frame(firsts[i]) + wire::Frame(setName)));
      std::string payload;
      EXPECT_FALSE(wire::ReadFrame(fd, &payload)) << "request " << i;
      ::close(fd);
    }
    int page = Open(m_server, 7);
    ASSERT_GE(page, 0);
    wire::Reply r;
    ASSERT_TRUE(Ask(page, wire::EncodeInvoke(4, DISPATCH_METHOD, {}), wire::kOpInvoke, &r));
    EXPECT_EQ(r.result.s, "");  // ZBL_GetZBName: no intruder's call ran
    ::close(page);
  });
  EXPECT_EQ(asked, (std::vector<uint64_t>{7}));
  EXPECT_EQ(m_server.PendingRequests(), 0);
}

// A process of another user never gets a word, even where the folder lets it
// reach the socket (the folder is private: here it is opened up for the
// test).
TEST_F(BridgeServerTest, AProcessOfAnotherUserIsNotServed) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a process as another user";
  ASSERT_TRUE(m_server.Start());
  EXPECT_EQ(std::filesystem::status(m_server.Folder()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
  ::chmod(m_server.Folder().c_str(), 0711);
  ::chmod(m_server.SocketPath().c_str(), 0777);
  const std::string hello = wire::Frame(wire::EncodeHello(1, m_server.Secret()));
  pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    int fd = Connect(m_server.SocketPath());
    if (fd < 0) ::_exit(4);
    std::string payload;
    // Even the secret does not help a process of another user.
    bool answered = wire::WriteFully(fd, hello) && wire::ReadFrame(fd, &payload);
    ::_exit(answered ? 1 : 0);
  }
  int status = -1;
  while (::waitpid(child, &status, WNOHANG) == 0) g_main_context_iteration(nullptr, FALSE);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace zb

namespace zb {
namespace {

size_t ResidentBytes() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<size_t>(resident) * static_cast<size_t>(::sysconf(_SC_PAGESIZE));
}

// Before its hello a connection may say nothing but a small hello, and soon:
// a same-user process that holds a thousand idle connections and sends
// frames of 60 MiB without a hello gets them closed, the program's memory
// and descriptors stay bounded, and a page's calls are answered all along.
TEST_F(BridgeServerTest, ConnectionsWithoutAHelloAreFewSmallAndShortLived) {
  rlimit lim{};
  ::getrlimit(RLIMIT_NOFILE, &lim);
  rlimit raised = lim;
  raised.rlim_cur = std::min<rlim_t>(lim.rlim_max, 4096);
  ::setrlimit(RLIMIT_NOFILE, &raised);
  ASSERT_TRUE(m_server.Start());
  const size_t before = ResidentBytes();
  size_t most = 0;
  std::atomic<bool> done{false};
  std::thread attacker([&] {
    int page = Open(m_server, 3);
    ASSERT_GE(page, 0);
    auto version = [&] {
      wire::Reply r;
      return Ask(page, wire::EncodeInvoke(14, DISPATCH_METHOD, {}), wire::kOpInvoke, &r)
                 ? r.result.s
                 : std::string("no answer");
    };
    // Eight frames of 60 MiB, each announced and sent as far as the server
    // takes it: it closes each after the length.
    const std::string chunk(1 << 20, 'x');
    for (int i = 0; i < 8; ++i) {
      int fd = Connect(m_server.SocketPath());
      ASSERT_GE(fd, 0);
      std::string head("\x00\x00\xC0\x03", 4);  // 60 MiB, little-endian
      bool cut = !wire::WriteFully(fd, head);
      for (int mb = 0; mb < 60 && !cut; ++mb) cut = !wire::WriteFully(fd, chunk);
      EXPECT_TRUE(cut) << "frame " << i << " was taken whole";
      ::close(fd);
      EXPECT_EQ(version(), "260");
    }
    // A thousand idle connections; the page's calls go on between them.
    std::vector<int> idle;
    for (int i = 0; i < 1000; ++i) {
      int fd = Connect(m_server.SocketPath());
      if (fd >= 0) idle.push_back(fd);
      if (i % 100 == 99) {
        EXPECT_EQ(version(), "260") << "after " << i + 1;
      }
    }
    EXPECT_EQ(version(), "260");
    // The first of them were closed unanswered to make room, and the last
    // are closed once their time is up.
    std::string payload;
    EXPECT_FALSE(wire::ReadFrame(idle.front(), &payload));
    EXPECT_FALSE(wire::ReadFrame(idle.back(), &payload));
    for (int fd : idle) ::close(fd);
    EXPECT_EQ(version(), "260");
    ::close(page);
    done = true;
  });
  while (!done) {
    g_main_context_iteration(nullptr, FALSE);
    most = std::max(most, m_server.Connections());
    std::this_thread::yield();
  }
  attacker.join();
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
  ::setrlimit(RLIMIT_NOFILE, &lim);
  EXPECT_LE(most, BridgeServer::kMaxWaiting + 1);  // the page's and the waiting ones
#if !defined(__SANITIZE_THREAD__)                  // ThreadSanitizer's own memory is no measure
  EXPECT_LT(ResidentBytes(), before + (64u << 20));
#else
  (void)before;
#endif
  EXPECT_EQ(m_server.PendingRequests(), 0);
}

}  // namespace
}  // namespace zb
