// The application core's own operations, called as the bridge and the main
// window call them: the profile in the real settings store, the command-line
// file, the dialog value, the window operations it asks its front end for,
// and a real ffmpeg started, polled, cancelled and ended.
#include "core/core_host.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

#include "core/front_end.h"
#include "jobs/job_status.h"
#include "media/tool_runner.h"
#include "quiet_front_end.h"
#include "tool_test_support.h"

namespace zb {
namespace {

using namespace zb::testing;

// Records each window operation the core asks for, and what the core held
// when it asked. A page dialog's page hands back `dialogResult` when set.
class RecordingFrontEnd final : public FrontEnd {
 public:
  CoreHost* core = nullptr;
  std::vector<std::string> calls;
  std::optional<std::string> dialogResult;
  uint32_t processIdAtClose = 1;

  void CloseActiveWindow() override {
    calls.push_back("close");
    processIdAtClose = core->Jobs()->ProcessId();
  }
  void ShowPageDialog(const std::string& title, const std::string& url, const std::string& argument,
                      int32_t left, int32_t top, int32_t width, int32_t height) override {
    calls.push_back("dialog|" + title + "|" + url + "|" + argument + "|" + std::to_string(left) +
                    "|" + std::to_string(top) + "|" + std::to_string(width) + "|" +
                    std::to_string(height) + "|reads " + core->GetDialogArgument());
    if (dialogResult) core->SetDialogResult(*dialogResult);
  }
  void ShowAboutBox() override { calls.push_back("about"); }
  void ShowContact() override { calls.push_back("contact"); }
  void ShowCompatibility() override { calls.push_back("compatibility"); }
  void ShowUsage() override { calls.push_back("usage"); }
  void OpenRedirect(const std::string& where) override { calls.push_back("redirect|" + where); }
  int32_t MessageBox(const std::string& text, int32_t type) override {
    calls.push_back("box|" + text + "|" + std::to_string(type));
    return 7;
  }
  std::string SelectMediaFile() override {
    calls.push_back("choose");
    return "/music/song.ogg";
  }
};

// A core in a module directory of its own, its settings in a temporary
// home's configuration folder (as for a user without ZIMBREL_REGISTRY_DIR).
class CoreHostTest : public ::testing::Test {
 protected:
  ModuleDir m_m;
  TempDir m_home;
  ScopedEnv m_homeEnv{"HOME", m_home.Path()};
  ScopedEnv m_configEnv{"XDG_CONFIG_HOME", std::nullopt};
  ScopedEnv m_registryEnv{"ZIMBREL_REGISTRY_DIR", std::nullopt};
  RecordingFrontEnd m_frontEnd;
  std::optional<CoreHost> m_core{std::in_place, m_m.Path(), m_frontEnd};

  void SetUp() override { m_frontEnd.core = &*m_core; }

  // The bytes of a stored setting: its type (4 bytes) and its data.
  std::string Stored(const std::string& name) const {
    return ReadFile(m_home / ".config/zimbrel/registry/HKEY_CURRENT_USER/Software/Zimbrel/" + name);
  }
  static std::string Binary(const std::string& data) { return std::string("\x03\0\0\0", 4) + data; }
};

TEST_F(CoreHostTest, TheProfileIsKeptInTheSettingsStoreAndReadByTheNextCore) {
  EXPECT_EQ(m_core->GetUserName(), "");
  EXPECT_EQ(m_core->GetAffiliateId(), "2");  // the default, stored as it is read
  EXPECT_EQ(m_core->GetNumberDelivered(), "0");
  m_core->SetUserName("Ana \xC3\xA9");
  m_core->SetPhoneNumber("+44 7700 900123");
  m_core->SetPhoneNetwork("Vodaphone");
  m_core->SetNumberDelivered("1");
  EXPECT_EQ(m_core->GetUserName(), "Ana \xC3\xA9");
  EXPECT_EQ(Stored("ZBName"), Binary("Ana \xC3\xA9"));
  EXPECT_EQ(Stored("ZBAid"), Binary("2"));

  m_core.reset();
  CoreHost next(m_m.Path(), m_frontEnd);
  EXPECT_EQ(next.GetUserName(), "Ana \xC3\xA9");
  EXPECT_EQ(next.GetPhoneNumber(), "+44 7700 900123");
  EXPECT_EQ(next.GetPhoneNetwork(), "Vodaphone");
  EXPECT_EQ(next.GetNumberDelivered(), "1");
  EXPECT_EQ(next.GetAffiliateId(), "2");
  // An emptied value with a default reads as the default again.
  next.SetAffiliateId("");
  EXPECT_EQ(next.GetAffiliateId(), "2");
}

TEST_F(CoreHostTest, EveryStartWritesTheInstallFolderAndKeepsAStoredAffiliateId) {
  EXPECT_EQ(Stored("ZBInstDir"), "");
  m_core->RecordStart();
  EXPECT_EQ(Stored("ZBInstDir"), Binary(m_m.Path()));
  EXPECT_EQ(Stored("ZBAid"), Binary("2"));

  m_core->SetAffiliateId("77");
  m_core.reset();
  const std::string moved = m_m.dir / "res";  // the program started from elsewhere
  CoreHost next(moved, m_frontEnd);
  next.RecordStart();
  EXPECT_EQ(Stored("ZBInstDir"), Binary(moved));
  EXPECT_EQ(Stored("ZBAid"), Binary("77"));
}

TEST_F(CoreHostTest, TheCommandLineFileIsGivenOnceAndAHandedOverSongReplacesIt) {
  EXPECT_EQ(m_core->TakeCommandLineFile(), "");
  m_core->SetCommandLineFile("/home/u/My Music/a 'b'.mp3");
  EXPECT_EQ(m_core->TakeCommandLineFile(), "/home/u/My Music/a 'b'.mp3");
  EXPECT_EQ(m_core->TakeCommandLineFile(), "");
  m_core->SetCommandLineFile("/first.mp3");
  m_core->SetCommandLineFile("/second.mp3");
  EXPECT_EQ(m_core->TakeCommandLineFile(), "/second.mp3");
  EXPECT_EQ(m_core->TakeCommandLineFile(), "");
}

TEST_F(CoreHostTest, ADialogReadsItsArgumentAndGivesBackWhatItsPageSet) {
  // A page that hands nothing back: the caller gets the argument.
  EXPECT_EQ(m_core->ShowPageDialog("T", "u.html", "arg", 1, 2, 300, 200), "arg");
  m_frontEnd.dialogResult = "chosen";
  EXPECT_EQ(m_core->ShowPageDialog("T2", "v.html", "x", -5, 0, 10, 20), "chosen");
  EXPECT_EQ(m_core->GetDialogArgument(), "chosen");
  // The next dialog starts from its own argument, not the last result.
  m_frontEnd.dialogResult.reset();
  EXPECT_EQ(m_core->ShowPageDialog("T3", "w.html", "", 0, 0, 0, 0), "");
  EXPECT_EQ(m_frontEnd.calls, (std::vector<std::string>{
                                  "dialog|T|u.html|arg|1|2|300|200|reads arg",
                                  "dialog|T2|v.html|x|-5|0|10|20|reads x",
                                  "dialog|T3|w.html||0|0|0|0|reads ",
                              }));
}

TEST_F(CoreHostTest, WindowOperationsReachTheFrontEndWithTheirAnswers) {
  m_core->ShowAboutBox();
  m_core->ShowContact();
  m_core->ShowCompatibility();
  m_core->ShowUsage();
  m_core->OpenRedirect("faq");
  EXPECT_EQ(m_core->MessageBox("Yes or no?", 4), 7);
  EXPECT_EQ(m_core->SelectMediaFile(), "/music/song.ogg");
  m_core->CloseActiveWindow();
  EXPECT_EQ(m_frontEnd.calls,
            (std::vector<std::string>{"about", "contact", "compatibility", "usage", "redirect|faq",
                                      "box|Yes or no?|4", "choose", "close"}));
  EXPECT_TRUE(m_core->IsProgramHost());
}

// ffmpeg on a FIFO nobody writes to waits in its open of the input: a real
// transcoder that runs until it is ended.
class CoreToolsTest : public CoreHostTest {
 protected:
  std::string m_song = m_m.dir / "song.wav";
  std::string m_fifo = m_m.dir / "never.wav";
  std::string m_ringtone = m_m.Path() + "/res/tmp/ringtone.mp3";

  void SetUp() override {
    CoreHostTest::SetUp();
    m_m.LinkTool("ffmpeg", "/usr/bin/ffmpeg");
    ASSERT_EQ(::mkfifo(m_fifo.c_str(), 0600), 0);
  }
  void TearDown() override {
    EXPECT_TRUE(AllSettled());
    media::AllowChildrenForTesting();  // after a test that ended the tools
  }
  // Polls the transcode's status as a page does: the values seen, in order,
  // without repeats, up to the first that is not "running".
  std::vector<int32_t> PollTranscode() {
    std::vector<int32_t> seen;
    WaitUntil(
        [&] {
          const int32_t v = m_core->TranscodeStatus();
          if (seen.empty() || seen.back() != v) seen.push_back(v);
          return v != jobs::status::kRunning;
        },
        60000);
    return seen;
  }
  // Starts ffmpeg on the FIFO and waits until its child runs.
  void StartWaitingTranscoder() {
    ASSERT_TRUE(m_core->StartTranscode(m_fifo, m_ringtone, "", "", "", ""));
    ASSERT_TRUE(WaitUntil([&] { return m_core->Jobs()->ProcessId() != 0; }, 30000));
    ASSERT_EQ(ChildProcesses().size(), 1u);
  }
};

TEST_F(CoreToolsTest, ARealTranscodeIsPolledToItsEnd) {
  ASSERT_EQ(Sh("ffmpeg -nostdin -v error -f lavfi -i sine=frequency=440:duration=2 -y " +
               ShellQuote(m_song)),
            0);
  ASSERT_TRUE(m_core->StartTranscode(m_song, m_ringtone, "", "", "", ""));
  const std::vector<int32_t> seen = PollTranscode();
  EXPECT_EQ(seen.back(), jobs::status::kTranscodeDone);
  EXPECT_LE(seen.size(), 2u);  // running, then the end: nothing in between
  EXPECT_EQ(ShOut("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 " +
                  ShellQuote(m_ringtone)),
            "mp3\n");
  EXPECT_EQ(m_core->TranscodeStatus(), jobs::status::kTranscodeDone);  // kept for the page
}

TEST_F(CoreToolsTest, ACancelledTranscodeFailsAtOnceAndTheEndOfTheToolsLeavesNoChild) {
  StartWaitingTranscoder();
  EXPECT_TRUE(m_core->CancelJob());
  EXPECT_EQ(PollTranscode().back(), jobs::status::kTranscodeFailed);
  // The cancelled ffmpeg runs on until the program's end ends it.
  EXPECT_EQ(ChildProcesses().size(), 1u);
  EXPECT_TRUE(m_core->EndTools());
  EXPECT_TRUE(ChildProcesses().empty());
  // Once the tools have ended no tool starts again: a transcode that would
  // wait on the FIFO fails at once.
  ASSERT_TRUE(m_core->StartTranscode(m_fifo, m_ringtone, "", "", "", ""));
  EXPECT_EQ(PollTranscode().back(), jobs::status::kTranscodeFailed);
  EXPECT_TRUE(ChildProcesses().empty());
}

TEST_F(CoreToolsTest, ClosingTheWindowKillsTheRunningTranscoderFirst) {
  StartWaitingTranscoder();
  m_core->CloseActiveWindow();
  EXPECT_EQ(m_frontEnd.calls, std::vector<std::string>{"close"});
  EXPECT_EQ(m_frontEnd.processIdAtClose, 0u);  // ended before the window was asked
  EXPECT_EQ(PollTranscode().back(), jobs::status::kTranscodeFailed);
  EXPECT_TRUE(WaitUntil([] { return ChildProcesses().empty(); }));
}

TEST_F(CoreToolsTest, StartingOverStopsTheJobAndItsTranscoderAtOnce) {
  StartWaitingTranscoder();
  EXPECT_TRUE(CoreHost::JobsRunning());
  m_core->CancelRunningJob();
  EXPECT_EQ(PollTranscode().back(), jobs::status::kTranscodeFailed);
  EXPECT_TRUE(WaitUntil([] { return ChildProcesses().empty(); }));
  EXPECT_TRUE(m_core->Jobs()->CancelRequested());
}

}  // namespace
}  // namespace zb
