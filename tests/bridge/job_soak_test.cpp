// Soak test of the five job kinds through the scripting object: each kind is
// started many times in a row with ZBL_BreakAsyncOperation at random moments,
// restarts while a job still runs, and runs left to finish. Real ffmpeg and
// mp3gain, real HTTP servers on 127.0.0.1, a CUE/BIN image for the grab.
// Afterwards no child is left (zombie or running), and the descriptors and
// threads of this process are back at their baseline.
//
// ZIMBREL_SOAK_COUNT sets the starts per kind (default 20, for CI);
// ZIMBREL_SOAK_RANDOM replays a run (the value is printed). The full run:
//   ZIMBREL_SOAK_COUNT=200 build/tests/bridge_tests --gtest_filter='JobSoak.*'
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "bridge/external_dispatch.h"
#include "core/core_host.h"
#include "media/cd_test_image.h"
#include "media/tool_test_support.h"
#include "net/raw_server.h"
#include "page_host.h"

namespace zb {
namespace {

using namespace zb::testing;

int SoakCount() {
  const char* v = std::getenv("ZIMBREL_SOAK_COUNT");
  int n = v ? std::atoi(v) : 0;
  return n > 0 ? n : 20;
}

uint32_t SoakRandomStart() {
  if (const char* v = std::getenv("ZIMBREL_SOAK_RANDOM"); v && *v)
    return static_cast<uint32_t>(std::strtoul(v, nullptr, 10));
  return std::random_device{}();
}

int Threads() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/task")) {
    while (dirent* e = ::readdir(d)) n += e->d_name[0] != '.';
    ::closedir(d);
  }
  return n;
}

const char kBody[] = "soak answer";

// What a page may read from one kind's status property.
struct KindSpec {
  const char* name;
  std::u16string status;
  std::function<bool(int32_t)> running;  // values while the job runs
  std::set<int32_t> finals;              // documented final values
  int32_t success;
  int maxDelayMs;  // cancels land in [0, maxDelayMs] after the start
};

bool Between(int32_t v, int32_t lo, int32_t hi) {
  return v >= lo && v <= hi;
}

class JobSoak : public ::testing::Test {
 protected:
  void SetUp() override {
    std::cout << "soak: " << m_count << " starts per kind, ZIMBREL_SOAK_RANDOM=" << m_randomStart
              << "\n";
    m_m.LinkTool("ffmpeg", "/usr/bin/ffmpeg");
    m_m.LinkTool("mp3gain", "/usr/bin/mp3gain");
    ASSERT_EQ(Sh("sox -n -r 44100 -c 2 " + ShellQuote(m_song) + " synth 0.5 sine 440 2>/dev/null"),
              0);
    ASSERT_EQ(Sh("ffmpeg -nostdin -v error -i " + ShellQuote(m_song) + " -ab 64k -y " +
                 ShellQuote(m_m.dir / "base.mp3")),
              0);
    std::filesystem::create_directory(m_m.dir / "norm");
    WriteFile(m_upload, std::string(512 * 1024, 'u'));
    m_img = media::cdtest::WriteCdImage(m_m.Path(), "soak", {{60, true}, {1500}, {300}});
    m_images = std::make_unique<ScopedEnv>("ZIMBREL_CD_IMAGES", m_img.cue);
    m_drive = std::to_string(media::cdtest::RealDriveCount());
  }
  void TearDown() override {
    m_disp.reset();
    m_host.reset();
    EXPECT_TRUE(AllSettled(60000));
  }

  VARIANT Call(const std::u16string& name, WORD flags, std::vector<VARIANT> args = {}) {
    return CallMember(*m_disp, name, flags, std::move(args));
  }
  static VARIANT Str(const std::string& s) { return StrArg(s); }
  int32_t Status(const std::u16string& name) {
    VARIANT r = Call(name, DISPATCH_PROPERTYGET);
    EXPECT_EQ(r.vt, VT_INT);
    return r.intVal;
  }
  std::string Response() { return TakeString(Call(u"ZBL_xhResponse", DISPATCH_PROPERTYGET)); }
  void Break() {
    VARIANT r = Call(u"ZBL_BreakAsyncOperation", DISPATCH_METHOD);
    EXPECT_EQ(r.vt, VT_BOOL);
    EXPECT_EQ(r.boolVal, VARIANT_TRUE);
  }

  // Starts one job of `kind` through its member; `i` numbers the start.
  bool Start(jobs::JobKind kind, int i) {
    std::vector<VARIANT> args;
    std::u16string member;
    switch (kind) {
      case jobs::JobKind::kHttp:
        member = u"ZBL_MakeHttpRequest";
        args = {Str("http://" + m_get.Authority() + "/soak?n=" + std::to_string(i))};
        break;
      case jobs::JobKind::kTranscode:
        member = u"ZBL_TranscodeMedia";
        args = {Str(m_song), Str(m_m.tmp + "/ringtone.mp3")};
        break;
      case jobs::JobKind::kUpload:
        member = u"ZBL_UploadFile";
        args = {Str(m_upload), Str("sid" + std::to_string(i))};
        break;
      case jobs::JobKind::kGrab:
        member = u"ZBL_GrabAudioDataFromCD";
        args = {Str(m_drive), Str("1"), Str(m_m.tmp + "/track.wav")};
        break;
      case jobs::JobKind::kNormalize: {
        // A copy per start: an earlier run's mp3gain may still work on its own.
        std::string f = m_m.dir / ("norm/n" + std::to_string(m_copies++) + ".mp3");
        std::filesystem::copy_file(m_m.dir / "base.mp3", f);
        member = u"ZBL_NormalizeAudio";
        args = {Str(f)};
        break;
      }
      case jobs::JobKind::kAnalysis:
        member = u"ZBL_AnalyzeMedia";
        args = {Str(m_song), Str(m_m.tmp + "/preview.wav")};
        break;
    }
    VARIANT r = Call(member, DISPATCH_METHOD, std::move(args));
    EXPECT_EQ(r.vt, VT_BOOL);
    return r.vt == VT_BOOL && r.boolVal == VARIANT_TRUE;
  }

  // Polls the status until it leaves the running values; every value read
  // must be a documented one. Returns the final value (or -1 on time-out).
  int32_t AwaitFinal(const KindSpec& k, int i) {
    int32_t v = -1;
    bool ended = WaitUntil(
        [&] {
          v = Status(k.status);
          if (k.running(v)) return false;
          return true;
        },
        120000);
    if (!ended) {
      ADD_FAILURE() << k.name << " start " << i << " never ended; status " << v;
      return -1;
    }
    EXPECT_TRUE(k.finals.count(v)) << k.name << " start " << i << " ended in " << v;
    return v;
  }

  // Descriptors and threads of this process, once every job has ended.
  struct Baseline {
    int fds, threads;
  };
  Baseline Measure() { return {OpenFds(), Threads()}; }

  void ExpectBackToBaseline(const Baseline& base, const char* after) {
    ASSERT_TRUE(AllSettled(120000)) << "jobs or children still running after " << after;
    // A detached thread leaves /proc/self/task shortly after it counts as ended.
    WaitUntil([&] { return OpenFds() <= base.fds && Threads() <= base.threads; }, 10000);
    EXPECT_EQ(ZombieChildren(), 0) << after;
    EXPECT_TRUE(ChildProcesses().empty()) << after;
    EXPECT_LE(OpenFds(), base.fds) << "descriptors left open after " << after;
    EXPECT_LE(Threads(), base.threads) << "threads left after " << after;
  }

  // One run of each kind that is left to finish: it must succeed. Also warms
  // up what libraries set up once per process (libcurl's global state).
  void ExpectEachKindSucceeds() {
    for (const KindSpec& k : m_kinds) {
      auto kind = static_cast<jobs::JobKind>(&k - m_kinds.data());
      ASSERT_TRUE(Start(kind, -1)) << k.name;
      EXPECT_EQ(AwaitFinal(k, -1), k.success) << k.name;
    }
    EXPECT_EQ(Response(), kBody);
  }

  void Soak(jobs::JobKind kind) {
    const KindSpec& k = m_kinds[static_cast<int>(kind)];
    ExpectEachKindSucceeds();
    ASSERT_TRUE(AllSettled(60000));
    Baseline base = Measure();

    std::uniform_int_distribution<int> delay(0, k.maxDelayMs * 1000);
    std::uniform_int_distribution<int> action(0, 99);
    int cancelled = 0, finished = 0, restarted = 0;
    std::map<int32_t, int> seen;
    for (int i = 0; i < m_count; ++i) {
      ASSERT_TRUE(Start(kind, i)) << k.name << " start " << i;
      std::this_thread::sleep_for(std::chrono::microseconds(delay(m_rng)));
      int a = action(m_rng);
      if (a < 15 && i + 1 < m_count) {  // started again while this one may run
        ++restarted;
        continue;
      }
      bool cancel = a < 75;
      if (cancel) Break();
      int32_t v = AwaitFinal(k, i);
      ++seen[v];
      if (v < 0) return;
      if (cancel) {
        ++cancelled;
        if (kind == jobs::JobKind::kHttp) {
          std::string r = Response();
          EXPECT_TRUE(r == kBody || r.empty()) << "start " << i << ": " << r;
        }
      } else {
        ++finished;
        EXPECT_EQ(v, k.success) << k.name << " start " << i << " ran uncancelled";
        if (kind == jobs::JobKind::kHttp) {
          EXPECT_EQ(Response(), kBody) << "start " << i;
        }
      }
    }
    std::cout << k.name << " (baseline " << base.fds << " fds, " << base.threads
              << " threads): " << cancelled << " cancelled, " << finished << " finished, "
              << restarted << " restarted; final values:";
    for (auto [v, n] : seen) std::cout << " " << v << "x" << n;
    std::cout << "\n";
    ExpectBackToBaseline(base, k.name);
    // The state that the soak leaves behind does not stop the next jobs.
    ExpectEachKindSucceeds();
  }

  int m_count = SoakCount();
  int m_copies = 0;
  uint32_t m_randomStart = SoakRandomStart();
  std::mt19937 m_rng{m_randomStart};

  ModuleDir m_m;
  ScopedEnv m_registryDir{"ZIMBREL_REGISTRY_DIR", m_m.dir / "registry"};
  ScopedEnv m_noProxy{"no_proxy", "*"};
  std::string m_song = m_m.dir / "song.wav";
  std::string m_upload = m_m.dir / "upload.mp3";
  media::cdtest::TestImage m_img;
  std::unique_ptr<ScopedEnv> m_images;
  std::string m_drive;

  // The GET server answers after a random pause; the upload server reads the
  // body slowly (a small receive buffer, a pause per read), so that a cancel
  // can land while bytes move.
  std::mt19937 m_serverRng{m_randomStart ^ 0x5eedu};
  RawServer m_get{[this](RawConnection& c) {
    if (!c.ReadHead()) return;
    std::this_thread::sleep_for(std::chrono::microseconds(m_serverRng() % 20000));
    c.Send(std::string("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: ") +
           std::to_string(sizeof kBody - 1) + "\r\n\r\n" + kBody);
  }};
  RawServer m_up{[](RawConnection& c) {
                   if (!c.ReadHead()) return;
                   size_t total = c.HeadEnd() + static_cast<size_t>(c.ContentLength());
                   while (c.Received().size() < total) {
                     if (!c.ReadSome()) return;
                     std::this_thread::sleep_for(std::chrono::microseconds(300));
                   }
                   c.Send("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nOK");
                 },
                 8192};
  ScopedEnv m_service{"ZIMBREL_SERVICE_HOST", m_up.Authority()};

  std::unique_ptr<CoreHost> m_host = std::make_unique<CoreHost>(m_m.Path(), testing::Quiet());
  std::unique_ptr<CExternalDispatch> m_disp =
      std::make_unique<CExternalDispatch>([this]() -> CoreHost* { return m_host.get(); });

  // In JobKind order.
  const std::vector<KindSpec> m_kinds = {
      {"http", u"ZBL_xhStatus", [](int32_t v) { return v == 0; }, {1}, 1, 30},
      {"transcode", u"ZBL_tsStatus", [](int32_t v) { return v == 0; }, {1, 2}, 1, 150},
      {"upload",
       u"ZBL_upStatus",
       [](int32_t v) { return Between(v, 0, 99); },
       {100, 101, 102},
       100,
       40},
      {"grab",
       u"ZBL_ripStatus",
       [](int32_t v) { return Between(v, 0, 99); },
       {100, 201, 202, 203, 204, 205, 206, 207, 208, 209, 210},
       100,
       15},
      {"normalise",
       u"ZBL_norStatus",
       [](int32_t v) { return v == 0 || v == 10 || v == 30 || v == 80; },
       {100, 201, 202, 203},
       100,
       60},
      {"analysis",
       u"ZBL_anStatus",
       [](int32_t v) { return Between(v, 0, 99); },
       {100, 101},
       100,
       60},
  };
};

TEST_F(JobSoak, HttpRequests) {
  Soak(jobs::JobKind::kHttp);
}
TEST_F(JobSoak, Transcodes) {
  Soak(jobs::JobKind::kTranscode);
}
TEST_F(JobSoak, Uploads) {
  Soak(jobs::JobKind::kUpload);
}
TEST_F(JobSoak, CdGrabs) {
  Soak(jobs::JobKind::kGrab);
}
TEST_F(JobSoak, Normalisations) {
  Soak(jobs::JobKind::kNormalize);
}

TEST_F(JobSoak, Analyses) {
  Soak(jobs::JobKind::kAnalysis);
}

// All the kinds run at once and one break stops them all.
TEST_F(JobSoak, AllKindsAtOnceWithOneBreak) {
  ExpectEachKindSucceeds();
  ASSERT_TRUE(AllSettled(60000));
  Baseline base = Measure();
  std::uniform_int_distribution<int> delay(0, 60000);
  for (int i = 0; i < std::max(1, m_count / 2); ++i) {
    for (int k = 0; k < jobs::kJobKinds; ++k)
      ASSERT_TRUE(Start(static_cast<jobs::JobKind>(k), 1000 + i));
    std::this_thread::sleep_for(std::chrono::microseconds(delay(m_rng)));
    Break();
    for (const KindSpec& k : m_kinds)
      if (AwaitFinal(k, i) < 0) return;
  }
  ExpectBackToBaseline(base, "all kinds at once");
  ExpectEachKindSucceeds();
}

}  // namespace
}  // namespace zb
