// How the program ends: a signal ends it as a close does (from inside a page
// dialog and a message box too), closing the window during a transcode
// leaves no transcoder and no partial ringtone, and the browser and help
// viewer it starts inherit nothing but their standard streams.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "app/app_harness.h"
#include "app/two_monitor_display.h"
#include "net/raw_server.h"

namespace zb::testing {
namespace {

namespace fs = std::filesystem;
const char kMainTitle[] = "Zimbrel - The Ringtone Creator";

std::string Slurp(const std::string& path) {
  std::ifstream f(path);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// Processes whose parent is `parent` and whose program is `name`.
std::vector<pid_t> ChildrenNamed(pid_t parent, const std::string& name) {
  std::vector<pid_t> out;
  for (const auto& e : fs::directory_iterator("/proc")) {
    pid_t pid = std::atoi(e.path().filename().c_str());
    if (pid <= 0) continue;
    std::string stat = Slurp(e.path() / "stat");
    size_t l = stat.find('('), r = stat.rfind(')');
    if (l == std::string::npos || r == std::string::npos || r + 4 >= stat.size()) continue;
    if (stat.substr(l + 1, r - l - 1) == name && std::atoi(stat.c_str() + r + 4) == parent)
      out.push_back(pid);
  }
  return out;
}

TEST(ProgramEnd, SignalsEndTheProgramAsACloseDoes) {
  for (int sig : {SIGINT, SIGHUP}) {
    SCOPED_TRACE(sig);
    AppHarness app;
    app.WritePage("selectSong.html", R"(<!doctype html><script>
window.external.ZBL_SetZBPhone('+1 555 0100');
window.external.ZBL_SetZBName('ready');
</script>)");
    app.Start();
    ASSERT_TRUE(app.WaitForValue("ZBName", "ready", 30000)) << app.Output();
    ::kill(app.Pid(), sig);
    int code = -1;
    ASSERT_TRUE(app.WaitExit(20000, &code)) << app.Output();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(app.Value("ZBPhone"), "+1 555 0100");
    ExpectTheSettingsTraceOfAnEnd(app.Output());
  }
}

// The X server ends under the program (the Wayland compositors: OnDesktop):
// it ends as a close does, with the settings written back and the bridge's
// socket folder removed, not with GDK's status 1.
TEST(ProgramEnd, TheXServerEndingEndsTheProgramAsACloseDoes) {
  TwoMonitorDisplay screen(false);
  ASSERT_TRUE(screen.Ok()) << screen.Log();
  AppHarness app;
  TempDir tmp;
  app.WritePage("selectSong.html", R"(<!doctype html><script>
window.external.ZBL_SetZBPhone('+1 555 0100');
window.external.ZBL_SetZBName('ready');
</script>)");
  app.Start({}, {{"TMPDIR", tmp.Path()}});
  ASSERT_TRUE(app.WaitForValue("ZBName", "ready", 30000)) << app.Output();
  screen.EndServer();
  int code = -1;
  ASSERT_TRUE(app.WaitExit(20000, &code)) << app.Output();
  EXPECT_EQ(code, 0);
  EXPECT_EQ(app.Value("ZBPhone"), "+1 555 0100");
  ExpectTheSettingsTraceOfAnEnd(app.Output());
  EXPECT_TRUE(fs::is_empty(tmp.Path())) << "the bridge's socket folder is left";
}

// SIGTERM while the page waits in a page dialog whose page waits in a
// message box: the box, then the dialog, then the main window end; the
// running transcoder is ended and its partial ringtone removed.
TEST(ProgramEnd, SigtermInsideAPageDialogAndAMessageBoxUnwindsThemAndEndsTheTranscoder) {
  AppHarness app;
  std::string pidFile = app.ModuleDir() + "/ffmpeg.pid";
  FakeTranscoder(app, pidFile);
  app.WriteFile("song.wav", "RIFF");
  app.WritePage("inner.html", R"(<!doctype html><script>
setTimeout(function () { window.external.ZBL_MessageBox('Still there?', 4); }, 50);
</script>)");
  app.WritePage("selectSong.html", R"(<!doctype html><script>
var x = window.external;
var dir = decodeURIComponent(location.pathname).replace(/res\/[^/]*$/, '');
x.ZBL_SetZBName('transcode ' + x.ZBL_TranscodeMedia(dir + 'song.wav', dir + 'res/tmp/ring.mp3'));
setTimeout(function () {
  x.ZBL_ShowModalDialog('Inner', dir + 'res/inner.html', 'arg', 0, 0, 300, 200);
}, 50);
</script>)");
  app.Start();
  ASSERT_TRUE(app.WaitForValue("ZBName", "transcode true", 30000)) << app.Output();
  ASSERT_FALSE(app.FindWindow("Zimbrel", 20000).empty()) << "no message box";
  ASSERT_FALSE(app.FindWindow("  Inner", 1000).empty()) << "no page dialog";
  ASSERT_TRUE(app.WaitUntil([&] { return fs::exists(pidFile); }, 10000));
  pid_t ffmpeg = std::atoi(Slurp(pidFile).c_str());
  ASSERT_TRUE(fs::exists(app.WorkDir() + "/ring.mp3"));

  ::kill(app.Pid(), SIGTERM);
  int code = -1;
  ASSERT_TRUE(app.WaitExit(20000, &code)) << app.Output();
  EXPECT_EQ(code, 0);
  EXPECT_EQ(app.Value("ZBName"), "transcode true");
  ExpectTheSettingsTraceOfAnEnd(app.Output());
  char st = ProcessState(ffmpeg);
  EXPECT_TRUE(st == 0 || st == 'Z') << "the transcoder runs on: " << st;
  EXPECT_FALSE(fs::exists(app.WorkDir() + "/ring.mp3"));
}

// The title-bar close (WM_DELETE_WINDOW) while the real ffmpeg encodes a
// song that arrives slowly: a second later no ffmpeg of the program runs and
// no partial ringtone is left in the work folder.
TEST(ProgramEnd, ClosingTheWindowDuringATranscodeLeavesNoTranscoderAndNoPartialRingtone) {
  ::signal(SIGPIPE, SIG_IGN);
  AppHarness app;
  std::string song = app.ModuleDir() + "/song.wav";
  std::string ring = app.WorkDir() + "/ringtone.mp3";  // the page names res/tmp
  ASSERT_EQ(::mkfifo(song.c_str(), 0600), 0);
  // A WAV header (44100 Hz, 16-bit stereo, a long data chunk), a few seconds
  // of sound at once, then more as slowly as a slow disk would give it.
  std::atomic<bool> stop{false};
  std::thread feeder([&] {
    int fd = ::open(song.c_str(), O_WRONLY);
    if (fd < 0) return;
    auto le32 = [](uint32_t v) {
      return std::string{static_cast<char>(v), static_cast<char>(v >> 8),
                         static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
    };
    std::string head = "RIFF" + le32(0x7FFFFFF0) + "WAVEfmt " + le32(16) +
                       std::string("\x01\x00\x02\x00", 4) + le32(44100) + le32(176400) +
                       std::string("\x04\x00\x10\x00", 4) + "data" + le32(0x7FFFFFCC);
    std::string sound(176400, '\0');
    for (size_t i = 0; i + 1 < sound.size(); i += 2) sound[i + 1] = static_cast<char>(i % 97);
    bool ok = ::write(fd, head.data(), head.size()) > 0;
    for (int i = 0; ok && i < 15; ++i) ok = ::write(fd, sound.data(), sound.size()) > 0;
    while (ok && !stop) {
      ok = ::write(fd, sound.data(), 8192) > 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ::close(fd);
  });
  app.WritePage("selectSong.html", R"(<!doctype html><script>
var x = window.external;
var dir = decodeURIComponent(location.pathname).replace(/res\/[^/]*$/, '');
x.ZBL_SetZBName('transcode ' + x.ZBL_TranscodeMedia(dir + 'song.wav', dir + 'res/tmp/ringtone.mp3'));
</script>)");
  app.Start();
  ASSERT_TRUE(app.WaitForValue("ZBName", "transcode true", 30000)) << app.Output();
  // ffmpeg has opened its output (it keeps what it encodes back while the
  // song still comes in).
  ASSERT_TRUE(app.WaitUntil([&] { return fs::exists(ring); }, 20000)) << "ffmpeg wrote nothing";
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  std::vector<pid_t> ffmpeg = ChildrenNamed(app.Pid(), "ffmpeg");
  ASSERT_EQ(ffmpeg.size(), 1u);
  EXPECT_EQ(app.Value("ZBName"), "transcode true");

  AppHarness::RequestClose(app.FindWindow(kMainTitle));
  auto closed = std::chrono::steady_clock::now();
  std::this_thread::sleep_until(closed + std::chrono::seconds(1));
  char st = ProcessState(ffmpeg[0]);
  EXPECT_TRUE(st == 0 || st == 'Z') << "ffmpeg still runs a second after the close: " << st;
  EXPECT_FALSE(fs::exists(ring)) << "a partial ringtone was left";
  int code = -1;
  EXPECT_TRUE(app.WaitExit(20000, &code));
  EXPECT_EQ(code, 0);
  stop = true;
  int unblock = ::open(song.c_str(), O_RDONLY | O_NONBLOCK);  // the feeder may wait to open
  feeder.join();
  if (unblock >= 0) ::close(unblock);
}

// The default browser and the help viewer, started while a scripted GET
// holds its connection, inherit only descriptors 0, 1 and 2, and are reaped
// when they end.
TEST(ProgramEnd, TheBrowserAndTheHelpViewerInheritOnlyTheirStandardStreams) {
  AppHarness app;
  TempDir xdg;
  fs::create_directories(xdg / "data/applications");
  fs::create_directories(xdg / "config");
  for (const char* who : {"browser", "viewer"}) {
    std::string script = xdg / (std::string("fake-") + who);
    std::ofstream(script) << "#!/bin/sh\necho $$ > '" << xdg.Path() << "/." << who << "'; mv '"
                          << xdg.Path() << "/." << who << "' '" << xdg.Path() << "/" << who
                          << "'\nwhile [ ! -e '" << xdg.Path() << "/go' ]; do sleep 0.01; done\n";
    fs::permissions(script, fs::perms::owner_all);
  }
  std::ofstream(xdg / "data/applications/fake-browser.desktop")
      << "[Desktop Entry]\nType=Application\nName=Fake Browser\nExec=" << xdg / "fake-browser"
      << " %u\nMimeType=x-scheme-handler/http;\n";
  std::ofstream(xdg / "data/applications/fake-viewer.desktop")
      << "[Desktop Entry]\nType=Application\nName=Fake Viewer\nExec=" << xdg / "fake-viewer"
      << " %f\nMimeType=application/vnd.ms-htmlhelp;\n";
  std::ofstream(xdg / "config/mimeapps.list")
      << "[Default Applications]\nx-scheme-handler/http=fake-browser.desktop\n"
      << "application/vnd.ms-htmlhelp=fake-viewer.desktop\n";
  app.WriteFile("help.chm", "ITSF");

  std::atomic<bool> asked{false}, release{false};
  RawServer web([&](RawConnection& c) {
    if (c.ReadHead()) asked = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  });
  app.WritePage("selectSong.html", R"(<!doctype html><script>
var x = window.external;
x.ZBL_SetZBName('asking ' + x.ZBL_MakeHttpRequest('http://)" +
                                       web.Authority() +
                                       R"(/hold'));
document.addEventListener('keydown', function (e) {
  if (e.key === 'b') x.ZBL_NavigateURL('home');
});
</script>)");
  // A service on TCP: its redirect address is known without asking it.
  app.Start({}, {{"XDG_DATA_HOME", xdg / "data"},
                 {"XDG_CONFIG_HOME", xdg / "config"},
                 {"ZIMBREL_SERVICE_HOST", "example.test"}});
  ASSERT_TRUE(app.WaitForValue("ZBName", "asking true", 30000)) << app.Output();
  ASSERT_TRUE(app.WaitUntil([&] { return asked.load(); }, 10000));
  std::string id = app.FindWindow(kMainTitle);
  ASSERT_TRUE(app.Keys(id, {"b", "F1"}));
  for (const char* who : {"browser", "viewer"}) {
    SCOPED_TRACE(who);
    std::string pidFile = xdg / who;
    ASSERT_TRUE(app.WaitUntil([&] { return fs::exists(pidFile); }, 15000));
    pid_t pid = std::atoi(Slurp(pidFile).c_str());
    std::set<int> fds;
    std::string script = xdg / (std::string("fake-") + who);
    app.WaitUntil(
        [&] {
          fds.clear();
          std::error_code ec;
          for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
            if (fs::read_symlink(e.path(), ec).string() != script)  // the shell's own script
              fds.insert(std::atoi(e.path().filename().c_str()));
          return fds == std::set<int>{0, 1, 2};
        },
        3000);
    EXPECT_EQ(fds, (std::set<int>{0, 1, 2}));
  }
  std::ofstream(xdg / "go");
  release = true;
  // Ended, they leave no zombie behind.
  EXPECT_TRUE(app.WaitUntil(
      [&] {
        for (const char* n : {"fake-browser", "fake-viewer"})
          for (pid_t p : ChildrenNamed(app.Pid(), n))
            if (ProcessState(p) != 0) return false;
        return true;
      },
      10000));
  AppHarness::RequestClose(id);
  EXPECT_TRUE(app.WaitExit(20000));
}

}  // namespace
}  // namespace zb::testing
