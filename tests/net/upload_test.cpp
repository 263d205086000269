#include "net/upload.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <thread>

#include "net_test_util.h"

namespace zb::net {
namespace {

using zb::testing::Head;
using zb::testing::ParseHead;
using zb::testing::Pattern;
using zb::testing::RawConnection;
using zb::testing::RawServer;
using zb::testing::ScopedEnv;
using zb::testing::WriteFile;

const char kOk[] = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nOK";

Head ExpectedHead(const std::string& authority, const std::string& target, size_t length) {
  return ParseHead(
      "POST " + target + " HTTP/1.0\r\nHost: " + authority +
      "\r\nUser-Agent: ZMBL/1.0 (Quorvane)\r\nContent-Length: " + std::to_string(length) +
      "\r\nContent-Type: audio/mpeg\r\nPragma: no-cache\r\n\r\n");
}

class UploadTest : public zb::testing::NetJobTest {
 protected:
  int32_t WaitUpload(int timeoutMs = 10000) {
    return WaitFinal(jobs::JobKind::kUpload, 100, timeoutMs);
  }
};

// The request on the wire, byte for byte, for sizes around the chunk size;
// the status once the whole request has reached the service (and while it
// holds its answer) shows that the chunk that completes the file never
// counts as a percentage.
TEST_F(UploadTest, SendsTheExactRequestAndHoldsTheLastChunkBackFromTheStatus) {
  struct Case {
    size_t size;
    int32_t beforeAnswer;
  };
  for (Case c :
       {Case{0, 0}, Case{2048, 0}, Case{2049, 99}, Case{5 * 1024 * 1024, 99}, Case{3 * 2048, 66}}) {
    SCOPED_TRACE(c.size);
    std::string body = Pattern(c.size);
    std::string file = m_dir / "tone.mp3";
    WriteFile(file, body);
    std::atomic<int32_t> seen{-1};
    RawServer server([&](RawConnection& conn) {
      if (!conn.ReadRequest()) return;
      zb::testing::PollUntil<int32_t>([&] { return Status(jobs::JobKind::kUpload); },
                                      [&](int32_t v) { return v == c.beforeAnswer; }, 2000);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));  // and it stays there
      seen = Status(jobs::JobKind::kUpload);
      conn.Send(kOk);
    });
    ScopedEnv host("ZIMBREL_SERVICE_HOST", server.Authority());
    // Bytes that would break the request line or end the URL are encoded;
    // "&", "%", "?", quotes, brackets and non-ASCII pass as they are.
    ASSERT_TRUE(StartUpload(m_jobs, file, "a&b c#d\xC3\xA9\r\n\x01\x7F%41?{|}\"<>\\^`'[]"));
    EXPECT_EQ(WaitUpload(), 100);
    ASSERT_TRUE(server.WaitDone(1));
    std::string got = server.Received()[0];
    size_t headEnd = got.find("\r\n\r\n");
    ASSERT_NE(headEnd, std::string::npos);
    EXPECT_EQ(ParseHead(got.substr(0, headEnd + 4)),
              ExpectedHead(server.Authority(),
                           "/cgi-bin/zbl_upload2.cgi?sid=a&b%20c%23d\xC3\xA9%0D%0A%01%7F%41?{|}\"<>"
                           "\\^`'[]&ver=260&aff=2",
                           c.size));
    EXPECT_TRUE(got.compare(headEnd + 4, std::string::npos, body) == 0) << "body differs";
    EXPECT_EQ(got.size(), headEnd + 4 + c.size);
    EXPECT_EQ(seen.load(), c.beforeAnswer);
  }
}

TEST_F(UploadTest, StatusSeenByAPollerRisesAndEndsAt100) {
  std::string file = m_dir / "big.mp3";
  WriteFile(file, Pattern(4 * 1024 * 1024));
  RawServer server(
      [&](RawConnection& conn) {
        // Reads slowly so that the poller sees the percentages go by.
        while (conn.HeadEnd() == std::string::npos ||
               conn.Received().size() <
                   conn.HeadEnd() + static_cast<size_t>(conn.ContentLength())) {
          if (!conn.ReadSome()) return;
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        conn.Send(kOk);
      },
      16384);
  ScopedEnv host("ZIMBREL_SERVICE_HOST", server.Authority());
  ASSERT_TRUE(StartUpload(m_jobs, file, "s1"));
  std::vector<int32_t> seen;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    int32_t v = Status(jobs::JobKind::kUpload);
    if (seen.empty() || seen.back() != v) seen.push_back(v);
    if (v >= 100 || std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  ASSERT_FALSE(seen.empty());
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(seen.back(), 100);
  EXPECT_GT(seen.size(), 10u) << "the percentages should be seen along the way: "
                              << ::testing::PrintToString(seen);
}

// The percentage is the share of the file that has reached the service, not
// the share handed to the socket: against a service that reads slowly
// through a small receive buffer (the socket's send buffer could hold the
// whole file), every value the page reads is at most 10 points ahead of what
// the service had read at that moment, and the values climb through the
// whole range.
TEST_F(UploadTest, PercentageFollowsWhatReachedASlowService) {
  const size_t size = 2621440;  // a 2.5 MB ringtone
  std::string file = m_dir / "tone.mp3";
  WriteFile(file, Pattern(size));
  std::atomic<size_t> bodyRead{0};
  RawServer server(
      [&](RawConnection& conn) {
        if (!conn.ReadHead()) return;
        const size_t start = conn.HeadEnd();
        while (conn.Received().size() < start + size) {
          bodyRead = conn.Received().size() - start;
          std::this_thread::sleep_for(std::chrono::microseconds(1500));
          if (!conn.ReadSome()) return;
        }
        bodyRead = size;
        conn.Send(kOk);
      },
      4096);
  ScopedEnv host("ZIMBREL_SERVICE_HOST", server.Authority());
  ASSERT_TRUE(StartUpload(m_jobs, file, "s1"));
  struct Sample {
    int32_t status;
    size_t read;
  };
  std::vector<Sample> samples;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (;;) {
    size_t read = bodyRead.load();  // first: the status is at least as new
    int32_t v = Status(jobs::JobKind::kUpload);
    samples.push_back({v, read});
    if (v >= 100 || std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(samples.back().status, 100);
  std::set<int32_t> distinct;
  int32_t last = 0, lead = -100;
  for (const Sample& s : samples) {
    EXPECT_GE(s.status, last) << "went backwards";
    last = s.status;
    if (s.status < 1 || s.status > 99) continue;
    distinct.insert(s.status);
    lead = std::max(lead, s.status - static_cast<int32_t>(s.read * 100 / size));
    EXPECT_LE(s.status, static_cast<int32_t>(s.read * 100 / size) + 10)
        << "ahead of the service: " << s.read << " bytes read";
  }
  RecordProperty("distinct_values", static_cast<int>(distinct.size()));
  RecordProperty("largest_lead_points", lead);
  EXPECT_GE(distinct.size(), 20u) << ::testing::PrintToString(distinct);
  ASSERT_FALSE(distinct.empty());
  EXPECT_LE(*distinct.begin(), 10);
  EXPECT_GE(*distinct.rbegin(), 90);
}

TEST_F(UploadTest, CancelMidBodyEndsIn101WithFewerBytesThanAnnounced) {
  const size_t size = 32 * 1024 * 1024;
  std::string file = m_dir / "big.mp3";
  WriteFile(file, Pattern(size));
  std::atomic<bool> paused{false}, reset{false};
  RawServer server(
      [&](RawConnection& conn) {
        if (!conn.ReadHead() || !conn.ReadUntil(conn.HeadEnd() + 65536)) return;
        paused = true;
        m_jobs->Cancel();  // the client is blocked by the full window
        conn.ReadUntilClose();
        reset = conn.ResetByPeer();
      },
      8192);
  ScopedEnv host("ZIMBREL_SERVICE_HOST", server.Authority());
  ASSERT_TRUE(StartUpload(m_jobs, file, "s1"));
  EXPECT_EQ(WaitUpload(), 101);
  ASSERT_TRUE(server.WaitDone(1));
  std::string got = server.Received()[0];
  size_t headEnd = got.find("\r\n\r\n") + 4;
  EXPECT_TRUE(paused.load());
  EXPECT_TRUE(reset.load());
  EXPECT_LT(got.size() - headEnd, size);
  EXPECT_NE(got.find("Content-Length: " + std::to_string(size)), std::string::npos);
}

// A cancel that comes once the whole request has left the program (the end
// of the body still sits in the socket's send buffer, the service has not
// read it) still cuts the request short: the connection ends with a reset,
// the unsent bytes are dropped and the service never sees the whole body.
TEST_F(UploadTest, CancelWhileTheBodyWaitsInTheSendBufferResetsTheConnection) {
  const size_t size = 256 * 1024;
  std::string file = m_dir / "tone.mp3";
  WriteFile(file, Pattern(size));
  std::atomic<bool> buffered{false}, reset{false};
  RawServer server(
      [&](RawConnection& conn) {
        if (!conn.ReadHead()) return;
        const size_t request = conn.HeadEnd() + size;
        // The service reads nothing more until every byte of the request
        // is either with it or waits unsent in the program's socket.
        buffered = zb::testing::PollUntil<bool>(
            [&] {
              long unsent = conn.PeerUnsent();
              return unsent >= 0 &&
                     conn.Received().size() + conn.Waiting() + static_cast<size_t>(unsent) >=
                         request;
            },
            [](bool v) { return v; });
        if (!buffered) return;
        m_jobs->Cancel();
        WaitUpload();  // the program has closed its socket
        conn.ReadUntilClose();
        reset = conn.ResetByPeer();
      },
      8192);
  ScopedEnv host("ZIMBREL_SERVICE_HOST", server.Authority());
  ASSERT_TRUE(StartUpload(m_jobs, file, "s1"));
  EXPECT_EQ(WaitUpload(), 101);
  ASSERT_TRUE(server.WaitDone(1));
  EXPECT_TRUE(buffered.load());
  EXPECT_TRUE(reset.load());
  std::string got = server.Received()[0];
  EXPECT_LT(got.size() - (got.find("\r\n\r\n") + 4), size);
}

TEST_F(UploadTest, FilesThatCannotBeSentGive101WithoutAConnection) {
  RawServer server([](RawConnection& conn) { conn.ReadRequest(); });
  ScopedEnv host("ZIMBREL_SERVICE_HOST", server.Authority());
  std::string fifo = m_dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string unreadable = m_dir / "locked.mp3";
  WriteFile(unreadable, "abc");
  ::chmod(unreadable.c_str(), 0);
  std::vector<std::string> files = {m_dir / "missing.mp3", m_dir.Path(), fifo, ""};
  if (::geteuid() != 0) files.push_back(unreadable);  // root reads it anyway
  for (const std::string& f : files) {
    SCOPED_TRACE(f);
    ASSERT_TRUE(StartUpload(m_jobs, f, "s1"));
    EXPECT_EQ(WaitUpload(), 101);
  }
  ASSERT_TRUE(jobs::WaitForJobThreadsForTesting(5000));
  EXPECT_EQ(server.Accepted(), 0u);
}

TEST_F(UploadTest, TransportFailuresGive101) {
  std::string file = m_dir / "tone.mp3";
  WriteFile(file, Pattern(256 * 1024));
  {
    SCOPED_TRACE("refused");
    ScopedEnv host("ZIMBREL_SERVICE_HOST",
                   "127.0.0.1:" + std::to_string(zb::testing::ClosedPort()));
    ASSERT_TRUE(StartUpload(m_jobs, file, "s1"));
    EXPECT_EQ(WaitUpload(), 101);
  }
  {
    SCOPED_TRACE("reset mid-body");
    RawServer server([](RawConnection& conn) {
      if (conn.ReadHead() && conn.ReadUntil(conn.HeadEnd() + 10000)) conn.Reset();
    });
    ScopedEnv host("ZIMBREL_SERVICE_HOST", server.Authority());
    ASSERT_TRUE(StartUpload(m_jobs, file, "s1"));
    EXPECT_EQ(WaitUpload(), 101);
  }
  {
    SCOPED_TRACE("closed without an answer");
    RawServer server([](RawConnection& conn) { conn.ReadRequest(); });
    ScopedEnv host("ZIMBREL_SERVICE_HOST", server.Authority());
    ASSERT_TRUE(StartUpload(m_jobs, file, "s1"));
    EXPECT_EQ(WaitUpload(), 101);
  }
  {
    SCOPED_TRACE("answered 400 before the body was complete");
    // The body is never read, so it cannot all be written before the answer.
    std::string big = m_dir / "big.mp3";
    WriteFile(big, Pattern(16 * 1024 * 1024));
    RawServer server(
        [&](RawConnection& conn) {
          if (!conn.ReadHead()) return;
          conn.Send("HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
          WaitUpload();
        },
        8192);
    ScopedEnv host("ZIMBREL_SERVICE_HOST", server.Authority());
    ASSERT_TRUE(StartUpload(m_jobs, big, "s1"));
    EXPECT_EQ(WaitUpload(), 101);
  }
  // A service that answers at once but goes on reading the body: the answer
  // may wait unread while the program still sends, yet it is no answer to
  // the whole body. The request is cut short, whatever the answer says; an
  // answer that the service has no room (413) has a failure of its own.
  for (auto [answer, expected] :
       {std::pair<const char*, int32_t>{"HTTP/1.0 413 Too Large\r\nContent-Length: 0\r\n\r\n", 102},
        std::pair<const char*, int32_t>{"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nOK", 101}}) {
    SCOPED_TRACE(std::string("answered at once, then the body was read: ") + answer);
    // Larger than what the socket buffers hold with the service's receive
    // buffer kept small: the body cannot all be written before the service
    // reads on, which it does only after it has answered.
    const size_t size = 32 * 1024 * 1024;
    std::string drained = m_dir / "drained.mp3";
    WriteFile(drained, Pattern(size));
    RawServer server(
        [&, answer = answer](RawConnection& conn) {
          if (!conn.ReadHead()) return;
          conn.Send(answer);
          conn.ReadUntilClose();
        },
        8192);
    ScopedEnv host("ZIMBREL_SERVICE_HOST", server.Authority());
    ASSERT_TRUE(StartUpload(m_jobs, drained, "s1"));
    EXPECT_EQ(WaitUpload(), expected);
    ASSERT_TRUE(server.WaitDone(1));
    std::string got = server.Received()[0];
    EXPECT_LT(got.size() - (got.find("\r\n\r\n") + 4), size);
  }
  {
    SCOPED_TRACE("file shrank while it was sent");
    std::string big = m_dir / "shrinks.mp3";
    WriteFile(big, Pattern(32 * 1024 * 1024));
    RawServer server(
        [&](RawConnection& conn) {
          if (!conn.ReadHead() || !conn.ReadUntil(conn.HeadEnd() + 65536)) return;
          std::filesystem::resize_file(big, 1000);
          conn.ReadUntilClose();
        },
        8192);
    ScopedEnv host("ZIMBREL_SERVICE_HOST", server.Authority());
    ASSERT_TRUE(StartUpload(m_jobs, big, "s1"));
    EXPECT_EQ(WaitUpload(), 101);
  }
}

TEST_F(UploadTest, AnAnswerThatNeverComesEndsIn101AndACancelEndsTheWaitAtOnce) {
  std::string file = m_dir / "tone.mp3";
  WriteFile(file, Pattern(5000));
  std::atomic<bool> received{false};
  RawServer server([&](RawConnection& conn) {
    if (conn.ReadRequest()) received = true;
    conn.ReadUntilClose(20000);  // holds the connection, never answers
  });
  ScopedEnv host("ZIMBREL_SERVICE_HOST", server.Authority());
  {
    SCOPED_TRACE("answer time-out");
    SetTimeoutsForTesting(
        Timeouts{std::chrono::milliseconds(30000), std::chrono::milliseconds(300)});
    std::string empty = m_dir / "empty.mp3";
    WriteFile(empty, "");
    size_t done = 0;
    for (const std::string& f : {file, empty}) {  // an empty body moves no byte at all
      SCOPED_TRACE(f);
      auto start = std::chrono::steady_clock::now();
      ASSERT_TRUE(StartUpload(m_jobs, f, "s1"));
      EXPECT_EQ(WaitUpload(), 101);
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
      ASSERT_TRUE(server.WaitDone(++done));
    }
  }
  {
    SCOPED_TRACE("cancel while waiting");
    SetTimeoutsForTesting(Timeouts{});
    received = false;
    ASSERT_TRUE(StartUpload(m_jobs, file, "s1"));
    ASSERT_TRUE(
        zb::testing::PollUntil<bool>([&] { return received.load(); }, [](bool v) { return v; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(Status(jobs::JobKind::kUpload), 81);  // 4096 of 5000 bytes; the last chunk waits
    auto start = std::chrono::steady_clock::now();
    m_jobs->Cancel();
    EXPECT_EQ(WaitUpload(), 101);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  }
}

// Once the whole body is written, the head of any answer ends the upload
// with 100: the program never reads an answer's body, so a service that
// then trickles one forever, closes at once, or answers with an error status
// does not change that. Until the head is complete (an interim 1xx answer
// is no answer) the upload waits.
TEST_F(UploadTest, TheHeadOfTheAnswerEndsTheUpload) {
  std::string file = m_dir / "tone.mp3";
  WriteFile(file, Pattern(10000));
  using Clock = std::chrono::steady_clock;
  struct Case {
    const char* name;
    std::vector<std::string> pieces;  // sent 200 ms apart; the upload waits until the last
    bool trickle;                     // then a body byte every 20 ms, as long as it takes
  };
  const Case cases[] = {
      {"trickled body", {"HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n"}, true},
      {"head, then close", {"HTTP/1.0 200 OK\r\nContent-Length: 50\r\n\r\n"}, false},
      {"not found",
       {"HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n<p>gone</p>"},
       false},
      {"head in pieces", {"HTTP/1.0 200 OK\r\n", "Server: slow\r\n", "\r\n"}, true},
      {"interim answer first",
       {"HTTP/1.1 100 Continue\r\n\r\n", "HTTP/1.1 201 Created\r\n\r\n"},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<bool> early{false};
    Clock::time_point headDone;
    RawServer server([&](RawConnection& conn) {
      if (!conn.ReadRequest()) return;
      for (size_t i = 0; i < c.pieces.size(); ++i) {
        if (i > 0) {
          std::this_thread::sleep_for(std::chrono::milliseconds(200));
          if (Status(jobs::JobKind::kUpload) >= 100) early = true;
        }
        conn.Send(c.pieces[i]);
      }
      headDone = Clock::now();
      auto until = headDone + std::chrono::seconds(10);
      while (c.trickle && Status(jobs::JobKind::kUpload) < 100 && Clock::now() < until) {
        conn.Send("x");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
    ScopedEnv host("ZIMBREL_SERVICE_HOST", server.Authority());
    ASSERT_TRUE(StartUpload(m_jobs, file, "s1"));
    EXPECT_EQ(WaitUpload(), 100);
    Clock::time_point ended = Clock::now();
    ASSERT_TRUE(server.WaitDone(1));  // headDone is written by now
    EXPECT_LT(ended - headDone, std::chrono::seconds(3));
    EXPECT_FALSE(early.load()) << "ended before the head was complete";
  }
}

TEST_F(UploadTest, AnErrorAnswerIsNotJudged) {
  std::string file = m_dir / "tone.mp3";
  WriteFile(file, Pattern(10000));
  RawServer server([](RawConnection& conn) {
    if (conn.ReadRequest())
      conn.Send("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 5\r\n\r\noops!");
  });
  ScopedEnv host("ZIMBREL_SERVICE_HOST", server.Authority());
  ASSERT_TRUE(StartUpload(m_jobs, file, "s1"));
  EXPECT_EQ(WaitUpload(), 100);
}

}  // namespace
}  // namespace zb::net
