// The whole ringtone flow as a user goes through it: the real program with
// its real pages, driven with keys and clicks (xdotool), against the demo
// service zimbrel-service. The start page reports each step on its console,
// which the program prints when ZIMBREL_PAGE_CONSOLE is set; the tests wait
// for those lines and check the outcome where it lands: the service's data
// folder and the settings store.
//
// Screenshots of each step go to $ZIMBREL_SCREENSHOT_DIR (the README's
// pictures: docs/screenshots/) or else to <build>/screenshots.
#include <arpa/inet.h>
#include <fcntl.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/app_harness.h"
#include "app/file_drag.h"
#include "temp_dir.h"

extern char** environ;

namespace zb::testing {
namespace {
namespace fs = std::filesystem;

constexpr char kTitle[] = "Zimbrel - The Ringtone Creator";
constexpr char kGermanTitle[] = "Zimbrel - Klingelt\u00f6ne selbst gemacht";
// The environment of a German desktop session: only LANG says the language.
const std::map<std::string, std::string> kGerman = {
    {"LANG", "de_DE.UTF-8"}, {"LANGUAGE", ""}, {"LC_ALL", ""}, {"LC_MESSAGES", ""}};
constexpr char kPhoneDigits[] = "447700900123";

void SleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// A TCP relay on 127.0.0.1 in front of the service that passes what the
// program sends at a limited rate, so that an upload lasts long enough to be
// watched and cancelled. Answers pass at full speed.
class ThrottlingRelay {
 public:
  ThrottlingRelay(int targetPort, size_t bytesPerSecond)
      : m_target(targetPort), m_rate(bytesPerSecond) {
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int small = 4096;  // keep the kernel from buffering much of the upload
    ::setsockopt(m_listen, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::listen(m_listen, 8) == 0 &&
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      m_port = ntohs(a.sin_port);
    m_acceptor = std::thread([this] { AcceptLoop(); });
  }
  ~ThrottlingRelay() {
    m_stop = true;
    m_acceptor.join();
    {
      std::lock_guard<std::mutex> lock(m__);
      for (int fd : m_fds) ::shutdown(fd, SHUT_RDWR);
    }
    for (auto& t : m_pumps) t.join();
    for (int fd : m_fds) ::close(fd);
    ::close(m_listen);
  }
  int Port() const { return m_port; }
  std::string Host() const { return "127.0.0.1:" + std::to_string(m_port); }
  void Unthrottle() { m_rate = 0; }

 private:
  void AcceptLoop() {
    while (!m_stop) {
      pollfd p{m_listen, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(static_cast<uint16_t>(m_target));
      if (::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(server);
        ::close(client);
        continue;
      }
      std::lock_guard<std::mutex> lock(m__);
      m_fds.push_back(client);
      m_fds.push_back(server);
      m_pumps.emplace_back([this, client, server] { Pump(client, server, true); });
      m_pumps.emplace_back([this, client, server] { Pump(server, client, false); });
    }
  }
  void Pump(int from, int to, bool throttled) {
    char buf[16384];
    while (!m_stop) {
      pollfd p{from, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      size_t rate = m_rate;
      size_t want = throttled && rate ? 1024 : sizeof buf;
      ssize_t n = ::read(from, buf, want);
      if (n <= 0) break;
      for (ssize_t done = 0; done < n;) {
        ssize_t w = ::send(to, buf + done, n - done, MSG_NOSIGNAL);
        if (w <= 0) return;
        done += w;
      }
      if (throttled && rate) SleepMs(static_cast<int>(n * 1000 / rate));
    }
    ::shutdown(to, SHUT_WR);
  }

  int m_listen = -1;
  int m_port = 0;
  int m_target;
  std::atomic<size_t> m_rate;
  std::atomic<bool> m_stop{false};
  std::mutex m__;
  std::vector<int> m_fds;
  std::vector<std::thread> m_pumps;
  std::thread m_acceptor;
};

// A port of 127.0.0.1 where nothing listens (for now).
int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  ::close(fd);
  return port;
}

// What ffprobe says of an audio file: codec_name, bit_rate, sample_rate,
// channels, duration.
std::map<std::string, std::string> Probe(const std::string& path) {
  std::string out = RunCapture({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                                "stream=codec_name,bit_rate,sample_rate,channels:format=duration",
                                "-of", "default=noprint_wrappers=1", path});
  std::map<std::string, std::string> facts;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    auto eq = line.find('=');
    if (eq != std::string::npos) facts[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return facts;
}

void ExpectRingtone(const fs::path& file, double seconds) {
  auto f = Probe(file.string());
  EXPECT_EQ(f["codec_name"], "mp3") << file;
  EXPECT_EQ(f["bit_rate"], "64000") << file;
  EXPECT_EQ(f["sample_rate"], "44100") << file;
  EXPECT_EQ(f["channels"], "2") << file;
  EXPECT_NEAR(std::atof(f["duration"].c_str()), seconds, 0.1) << file;
}

// Saves a picture of one window (the X window id) under ShotDir().
void Shot(const std::string& windowId, const std::string& name) {
  std::error_code ec;
  fs::create_directories(fs::path(ShotDir() + "/" + name).parent_path(), ec);
  SleepMs(400);  // let the page paint what it just changed
  RunCapture({"import", "-window", windowId, ShotDir() + "/" + name});
}

// The program with the start page, its console lines read in order. WebKit
// prints page console messages on the program's standard error, which the
// harness leaves to the test: the test's own standard error is pointed at a
// file while the program starts, so the program inherits that file.
//
// Every key goes to the page only once the page has reported the state the
// key is meant for (the view it shows, the job it runs), and only once the
// X server says the program's window has the keyboard focus.
class Flow {
 public:
  explicit Flow(std::map<std::string, std::string> env, const char* title = kTitle)
      : m_env(std::move(env)), m_title(title) {
    m_env["ZIMBREL_PAGE_CONSOLE"] = "1";
  }
  AppHarness& App() { return m_app; }
  const std::string& Window() const { return m_window; }

  bool Start(const std::vector<std::string>& args = {}) {
    m_cursor = 0;
    int log = ::open(m_logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int saved = ::dup(2);
    ::dup2(log, 2);
    m_app.Start(args, m_env);
    ::dup2(saved, 2);
    ::close(saved);
    ::close(log);
    m_window = m_app.FindWindow(m_title, 60000);
    return !m_window.empty() && Wait("view viewSong", 60000);
  }

  // Waits for the page to report `what` after what was already seen.
  bool Wait(const std::string& what, int timeoutMs = 30000) {
    std::string needle = "zimbrel-page: " + what;
    size_t at = std::string::npos;
    bool found = m_app.WaitUntil(
        [&] {
          at = Log().find(needle, m_cursor);
          return at != std::string::npos;
        },
        timeoutMs);
    if (found) m_cursor = at + needle.size();
    return found;
  }
  // The rest of the line the last Wait() found.
  std::string RestOfLine() {
    std::string out = Log();
    auto end = out.find('\n', m_cursor);
    return out.substr(m_cursor, end == std::string::npos ? std::string::npos : end - m_cursor);
  }
  std::string Log() {
    std::ifstream f(m_logPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
  }

  void Keys(const std::vector<std::string>& keys) {
    EXPECT_TRUE(m_app.Keys(m_window, keys)) << "no keyboard focus for the keys";
  }
  void Type(const std::string& text) {
    EXPECT_TRUE(AppHarness::Type(m_window, text)) << "no keyboard focus to type " << text;
  }
  // A click at a point of the window (pixels from its top-left corner).
  void Click(int x, int y) {
    EXPECT_TRUE(AppHarness::FocusWindow(m_window)) << "no focus for the click";
    AppHarness::Xdo(
        {"mousemove", "--window", m_window, std::to_string(x), std::to_string(y), "click", "1"});
  }
  void Shot(const std::string& name) { zb::testing::Shot(m_window, name); }

  // Esc cancels the running job; pressed again if a loaded machine lost it.
  bool Cancel() {
    for (int attempt = 0; attempt < 3; ++attempt) {
      Keys({"Escape"});
      if (Wait("cancel requested", 5000)) return true;
    }
    return false;
  }

  // From the start page with a song chosen to the ringtone, played in the page.
  bool MakeRingtone() {
    Keys({"Return"});
    return PartReady() && MakeFromPart();
  }
  // The same from the whole song: the last length offered, after the part in
  // tab order.
  bool MakeWholeSong() {
    Keys({"Return"});
    if (!PartReady()) return false;
    Keys({"Tab", "End"});
    if (!Wait("part 0+")) return false;
    Keys({"shift+Tab"});
    return MakeFromPart();
  }
  // The song has been read and its waveform shown, with the slider focused.
  bool PartReady() { return Wait("view viewPart") && Wait("part ready ", 60000); }
  // Return on the part makes the ringtone from it.
  bool MakeFromPart() {
    Keys({"Return"});
    return Wait("view viewMake") && Wait("view viewReady", 120000) && Wait("ringtone ", 10000);
  }
  // The profile form, empty, filled with the keyboard.
  void FillProfile() {
    Type("Ann Example");
    Keys({"Tab"});
    Type("+44 7700 900123");
    Keys({"Tab"});
    Type("Tellwave");
  }
  // From the ringtone to the send step with a profile already kept.
  bool ToSendStep() {
    Keys({"Return"});
    if (!Wait("view viewProfile")) return false;
    Keys({"Return"});  // Continue has the focus when the form is complete
    return Wait("view viewSend");
  }

 private:
  AppHarness m_app;
  TempDir m_logDir;
  std::string m_logPath = m_logDir / "console.txt";
  std::map<std::string, std::string> m_env;
  std::string m_window;
  std::string m_title;
  size_t m_cursor = 0;
};

TEST(Flow, CommandLineSongReachesThePhoneAndTheProfileIsKeptAcrossARestart) {
  Service service;
  ASSERT_GT(service.Port(), 0);
  TempDir music;
  const std::string song = music / "My Song.wav";  // a space in the path
  ASSERT_TRUE(MakeSong(song, 6.0));

  Flow flow({{"ZIMBREL_SERVICE_HOST", service.Host()}});
  ASSERT_TRUE(flow.Start({song})) << flow.Log();
  flow.Shot("01-song-chosen.png");

  ASSERT_TRUE(flow.MakeRingtone()) << flow.Log();
  EXPECT_NEAR(std::atof(flow.RestOfLine().c_str()), 6.0, 0.1) << flow.RestOfLine();
  // The ringtone is named as what it is, and the facts and the player give
  // the same length.
  ASSERT_TRUE(flow.Wait("labels ")) << flow.Log();
  EXPECT_EQ(flow.RestOfLine(), "name=My Song (MP3)|length=0:06|player=0:00 / 0:06");
  flow.Shot("03-ringtone-ready.png");

  flow.Keys({"Return"});
  ASSERT_TRUE(flow.Wait("view viewProfile")) << flow.Log();
  // An empty phone number is refused in the page, not sent: the page stays
  // on the form (checked once the picture, taken after a pause for the page
  // to paint, shows the refusal) and the refused field has the focus.
  flow.Type("Ann Example");
  flow.Keys({"Return"});
  flow.Shot("04a-profile-check.png");
  EXPECT_EQ(flow.Log().find("view viewSend"), std::string::npos);
  flow.Type("+44 7700 900123");  // the refused field has the focus
  flow.Keys({"Tab"});
  flow.Type("Tellwave");
  flow.Shot("04-your-phone.png");
  flow.Keys({"Return"});
  ASSERT_TRUE(flow.Wait("summary ringtone=")) << flow.Log();
  EXPECT_EQ(flow.RestOfLine(), "My Song (MP3) part=0:00\u20130:06, 6 s");
  ASSERT_TRUE(flow.Wait("view viewSend")) << flow.Log();
  flow.Shot("05-send.png");
  flow.Keys({"Return"});
  ASSERT_TRUE(flow.Wait("send done", 60000)) << flow.Log();
  // The service's page for the phone: the button and the address it opens.
  ASSERT_TRUE(flow.Wait("service address ")) << flow.Log();
  EXPECT_EQ(flow.RestOfLine(), "http://" + service.Host() +
                                   "/redir.php?ver=260&aff=2&where=phone%3A%2B" + kPhoneDigits);
  // The link for the phone and its QR code are drawn before the phones are asked for.
  ASSERT_TRUE(flow.Wait("phones")) << flow.Log();
  flow.Shot("07-sent.png");

  auto delivered = service.Deliveries(kPhoneDigits);
  ASSERT_EQ(delivered.size(), 1u);
  ExpectRingtone(delivered[0], 6.0);
  EXPECT_EQ(flow.App().Value("ZBName"), "Ann Example");
  EXPECT_EQ(flow.App().Value("ZBPhone"), "+447700900123");
  EXPECT_EQ(flow.App().Value("ZBNetwork"), "Tellwave");
  EXPECT_EQ(flow.App().Value("ZBNVCheck"), "1");

  // Another song without restarting: "Make another ringtone" has the focus.
  flow.Keys({"Return"});
  ASSERT_TRUE(flow.Wait("view viewSong")) << flow.Log();

  // A restart shows the profile again: it goes straight through.
  AppHarness::RequestClose(flow.Window());
  ASSERT_TRUE(flow.App().WaitExit(20000));
  ASSERT_TRUE(flow.Start({song})) << flow.Log();
  ASSERT_TRUE(flow.MakeRingtone()) << flow.Log();
  ASSERT_TRUE(flow.ToSendStep()) << flow.Log();
  flow.Keys({"Return"});
  ASSERT_TRUE(flow.Wait("send done", 60000)) << flow.Log();
  EXPECT_EQ(service.Deliveries(kPhoneDigits).size(), 2u);
}

// A CUE/BIN image: a data track, then audio tracks of 5 s and 3 s.
void WriteCdImage(const TempDir& dir, std::string* cue) {
  const std::string a1 = dir / "a1.raw", a2 = dir / "a2.raw";
  for (auto [path, secs] : {std::pair{a1, 5}, std::pair{a2, 3}})
    RunCapture({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                "sine=frequency=523:sample_rate=44100:duration=" + std::to_string(secs), "-ac", "2",
                "-f", "s16le", "-acodec", "pcm_s16le", path});
  std::ofstream bin(dir / "disc.bin", std::ios::binary);
  bin << std::string(300 * 2352, '\0');
  for (const std::string& path : {a1, a2}) {
    std::ifstream in(path, std::ios::binary);
    bin << in.rdbuf();
  }
  *cue = dir / "disc.cue";
  std::ofstream(*cue) << "FILE \"disc.bin\" BINARY\n"
                         "  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
                         "  TRACK 02 AUDIO\n    INDEX 01 00:04:00\n"
                         "  TRACK 03 AUDIO\n    INDEX 01 00:09:00\n";
}

// The part that rings, chosen with the keys: the loudest 30 s are picked
// first; arrows, Shift+arrows, Home and End move the part; the summary says
// which part is sent, and the ringtone the phone gets lasts that long.
TEST(Flow, KeysMoveThePartAndTheRingtoneSentLastsWhatTheSummarySays) {
  Service service;
  ASSERT_GT(service.Port(), 0);
  TempDir music;
  const std::string song = music / "quiet then loud.wav";
  // 100 s, quiet but for 20 loud seconds from 47 s.
  ASSERT_EQ(std::system(("cd '" + music.Path() +
                         "' && sox -n -r 44100 -c 2 q1.wav synth 47 sine 300 vol 0.05"
                         " && sox -n -r 44100 -c 2 l.wav synth 20 sine 500 vol 0.8"
                         " && sox -n -r 44100 -c 2 q2.wav synth 33 sine 300 vol 0.05"
                         " && sox q1.wav l.wav q2.wav 'quiet then loud.wav'")
                            .c_str()),
            0);

  Flow flow({{"ZIMBREL_SERVICE_HOST", service.Host()}});
  ASSERT_TRUE(flow.Start({song})) << flow.Log();
  flow.Keys({"Return"});
  ASSERT_TRUE(flow.PartReady()) << flow.Log();
  EXPECT_EQ(flow.RestOfLine(), "100000 37000+30000 0:37\u20131:07, 30 s");
  flow.Shot("02b-part.png");

  flow.Keys({"Right", "Right"});
  ASSERT_TRUE(flow.Wait("part 39000+30000 ")) << flow.Log();
  flow.Keys({"shift+Right"});
  ASSERT_TRUE(flow.Wait("part 44000+30000 0:44\u20131:14, 30 s")) << flow.Log();
  flow.Keys({"End"});
  ASSERT_TRUE(flow.Wait("part 70000+30000 ")) << flow.Log();
  flow.Keys({"Home"});
  ASSERT_TRUE(flow.Wait("part 0+30000 ")) << flow.Log();
  flow.Keys({"shift+Right", "shift+Right", "shift+Left", "Right"});
  ASSERT_TRUE(flow.Wait("part 6000+30000 0:06\u20130:36, 30 s")) << flow.Log();
  flow.Shot("02c-part-moved.png");
  // "Play the part", after the length and the two fades in tab order, plays
  // the preview from the part's start.
  flow.Keys({"Tab", "Tab", "Tab", "Tab", "Return"});
  ASSERT_TRUE(flow.Wait("part playing 6000+30000 ")) << flow.Log();
  ASSERT_TRUE(flow.Wait("part sounding after ")) << flow.Log();
  std::printf("[ part sounding after %s ]\n", flow.RestOfLine().c_str());
  flow.Keys({"Return"});  // Stop
  flow.Keys({"shift+Tab", "shift+Tab", "shift+Tab", "shift+Tab"});

  ASSERT_TRUE(flow.MakeFromPart()) << flow.Log();
  EXPECT_NEAR(std::atof(flow.RestOfLine().c_str()), 30.0, 0.1) << flow.RestOfLine();
  flow.Keys({"Return"});
  ASSERT_TRUE(flow.Wait("view viewProfile")) << flow.Log();
  flow.FillProfile();
  flow.Keys({"Return"});
  ASSERT_TRUE(flow.Wait("summary ringtone=")) << flow.Log();
  EXPECT_EQ(flow.RestOfLine(), "quiet then loud (MP3) part=0:06\u20130:36, 30 s");
  ASSERT_TRUE(flow.Wait("view viewSend")) << flow.Log();
  flow.Keys({"Return"});
  ASSERT_TRUE(flow.Wait("send done", 60000)) << flow.Log();

  auto delivered = service.Deliveries(kPhoneDigits);
  ASSERT_EQ(delivered.size(), 1u);
  ExpectRingtone(delivered[0], 30.0);
}

// A song shorter than the first read of the preview: the part is the whole
// song, cut from a preview smaller than what its header read asks for, and
// it plays.
TEST(Flow, TheWholeOfASongOfASecondPlays) {
  TempDir music;
  const std::string song = music / "one second.wav";
  ASSERT_EQ(std::system(("sox -n -r 44100 -c 2 '" + song + "' synth 1 sine 440 vol 0.5").c_str()),
            0);
  Flow flow({});
  ASSERT_TRUE(flow.Start({song})) << flow.Log();
  flow.Keys({"Return"});
  ASSERT_TRUE(flow.PartReady()) << flow.Log();
  EXPECT_EQ(flow.RestOfLine().substr(0, 12), "1000 0+1000 ") << flow.RestOfLine();
  flow.Keys({"Tab", "Tab", "Tab", "Tab", "Return"});
  ASSERT_TRUE(flow.Wait("part playing 0+1000 ")) << flow.Log();
  ASSERT_TRUE(flow.Wait("part sounding after ")) << flow.Log();
  EXPECT_EQ(flow.Log().find("part player:"), std::string::npos) << flow.Log();
  EXPECT_EQ(flow.Log().find("part not cut ahead"), std::string::npos) << flow.Log();
}

TEST(Flow, AudioTrackOfACdImageReachesThePhone) {
  Service service;
  ASSERT_GT(service.Port(), 0);
  TempDir cd;
  std::string cue;
  WriteCdImage(cd, &cue);

  Flow flow({{"ZIMBREL_SERVICE_HOST", service.Host()}, {"ZIMBREL_CD_IMAGES", cue}});
  ASSERT_TRUE(flow.Start()) << flow.Log();
  flow.Keys({"Tab", "Return"});  // from "Choose a file..." to "Choose a CD track..."
  ASSERT_TRUE(flow.Wait("view viewCd")) << flow.Log();
  flow.Shot("02-cd-tracks.png");
  // The first audio track is chosen; "Use this track" is at the window's
  // bottom right.
  auto g = AppHarness::WindowGeometry(flow.Window());
  flow.Click(g.width - 80, g.height - 35);
  ASSERT_TRUE(flow.PartReady()) << flow.Log();
  ASSERT_TRUE(flow.MakeFromPart()) << flow.Log();
  EXPECT_NEAR(std::atof(flow.RestOfLine().c_str()), 5.0, 0.1) << flow.RestOfLine();

  flow.Keys({"Return"});
  ASSERT_TRUE(flow.Wait("view viewProfile")) << flow.Log();
  flow.FillProfile();
  flow.Keys({"Return"});
  ASSERT_TRUE(flow.Wait("view viewSend")) << flow.Log();
  flow.Keys({"Return"});
  ASSERT_TRUE(flow.Wait("send done", 60000)) << flow.Log();

  auto delivered = service.Deliveries(kPhoneDigits);
  ASSERT_EQ(delivered.size(), 1u);
  ExpectRingtone(delivered[0], 5.0);
}

// A user whose work folder cannot be made (no cache folder, no room in the
// system's temporary folder) is told so; the song is not blamed.
TEST(Flow, AWorkFolderThatCannotBeMadeIsWhatThePageReports) {
  TempDir music, blocked;
  const std::string song = music / "song.wav";
  ASSERT_TRUE(MakeSong(song, 2.0));
  // Files where the folders should be: the cache, and the fallback in the
  // temporary folder (which the program's other temporary files still use).
  std::ofstream(blocked / "cache") << "a file";
  fs::create_directory(blocked / "tmp");
  std::ofstream(blocked / ("tmp/zimbrel-" + std::to_string(::geteuid()))) << "a file";

  Flow flow({{"ZIMBREL_SERVICE_HOST", "127.0.0.1:" + std::to_string(FreePort())},
             {"XDG_CACHE_HOME", blocked / "cache"},
             {"TMPDIR", blocked / "tmp"}});
  ASSERT_TRUE(flow.Start({song})) << flow.Log();
  flow.Keys({"Return"});
  ASSERT_TRUE(flow.Wait("view viewPart")) << flow.Log();
  ASSERT_TRUE(flow.Wait("part failed: ", 60000)) << flow.Log();
  EXPECT_EQ(flow.RestOfLine().rfind("Zimbrel could not write into its work folder", 0), 0u)
      << flow.RestOfLine();
  EXPECT_EQ(flow.RestOfLine().find("damaged"), std::string::npos);
}

TEST(Flow, CancelWhileConvertingLeavesThePageReadyForTheNextTry) {
  TempDir music;
  const std::string song = music / "long song.mp3";
  ASSERT_TRUE(MakeSong(song, 300.0, true));  // long enough to be cancelled

  Flow flow({{"ZIMBREL_SERVICE_HOST", "127.0.0.1:" + std::to_string(FreePort())}});
  ASSERT_TRUE(flow.Start({song})) << flow.Log();
  flow.Keys({"Return"});
  ASSERT_TRUE(flow.PartReady()) << flow.Log();
  // The whole song: the last length offered, after the part in tab order.
  flow.Keys({"Tab", "End"});
  ASSERT_TRUE(flow.Wait("part 0+300000 ")) << flow.Log();
  flow.Keys({"shift+Tab", "Return"});
  ASSERT_TRUE(flow.Wait("view viewMake")) << flow.Log();
  flow.Shot("03a-making.png");
  EXPECT_EQ(flow.Log().find("view viewReady"), std::string::npos) << "too fast to cancel";
  ASSERT_TRUE(flow.Cancel()) << flow.Log();
  ASSERT_TRUE(flow.Wait("make cancelled", 30000)) << flow.Log();
  flow.Shot("03b-making-cancelled.png");

  // "Try again" has the focus and makes the ringtone.
  flow.Keys({"Return"});
  ASSERT_TRUE(flow.Wait("view viewMake")) << flow.Log();
  ASSERT_TRUE(flow.Wait("view viewReady", 180000)) << flow.Log();
  ASSERT_TRUE(flow.Wait("ringtone ", 10000));
  EXPECT_NEAR(std::atof(flow.RestOfLine().c_str()), 300.0, 0.2) << flow.RestOfLine();
}

TEST(Flow, CancelWhileSendingLeavesTheRingtoneReadyToSendAgain) {
  Service service;
  ASSERT_GT(service.Port(), 0);
  ThrottlingRelay relay(service.Port(), 40 * 1024);
  ASSERT_GT(relay.Port(), 0);
  TempDir music;
  const std::string song = music / "song.wav";
  ASSERT_TRUE(MakeSong(song, 60.0));  // about 480 KB of ringtone

  Flow flow({{"ZIMBREL_SERVICE_HOST", relay.Host()}});
  ASSERT_TRUE(flow.Start({song})) << flow.Log();
  ASSERT_TRUE(flow.MakeWholeSong()) << flow.Log();
  flow.Keys({"Return"});
  ASSERT_TRUE(flow.Wait("view viewProfile")) << flow.Log();
  flow.FillProfile();
  flow.Keys({"Return"});
  ASSERT_TRUE(flow.Wait("view viewSend")) << flow.Log();
  flow.Keys({"Return"});
  ASSERT_TRUE(flow.Wait("upload running", 30000)) << flow.Log();
  flow.Shot("06-sending.png");
  // Every figure of the percentage text is the bar's.
  {
    std::istringstream lines(flow.Log());
    int seen = 0;
    for (std::string line; std::getline(lines, line);) {
      auto at = line.find("zimbrel-page: upload ");
      if (at == std::string::npos || line.find(" bar ") == std::string::npos) continue;
      int text = -1, bar = -1;
      ASSERT_EQ(std::sscanf(line.c_str() + at, "zimbrel-page: upload %d %% bar %d%%", &text, &bar),
                2)
          << line;
      EXPECT_EQ(text, bar) << line;
      ++seen;
    }
    EXPECT_GT(seen, 0);
  }
  ASSERT_TRUE(flow.Cancel()) << flow.Log();
  ASSERT_TRUE(flow.Wait("send cancelled", 30000)) << flow.Log();
  flow.Shot("06a-send-cancelled.png");

  // "Send again" has the focus; the same ringtone goes out whole.
  relay.Unthrottle();
  flow.Keys({"Return"});
  ASSERT_TRUE(flow.Wait("send done", 60000)) << flow.Log();
  // The cancelled body sat in the program's socket buffer, beyond the slow
  // relay, when Cancel was pressed: the program reset the connection, so
  // the service saw a short body and dropped it. Only the second one landed.
  auto delivered = service.Deliveries(kPhoneDigits);
  ASSERT_EQ(delivered.size(), 1u);
  ExpectRingtone(delivered[0], 60.0);
}

TEST(Flow, ServiceDownGivesAClearMessageAndTheRingtoneIsKeptForARetry) {
  const int port = FreePort();
  ASSERT_GT(port, 0);
  TempDir music;
  const std::string song = music / "song.wav";
  ASSERT_TRUE(MakeSong(song, 4.0));

  Flow flow({{"ZIMBREL_SERVICE_HOST", "127.0.0.1:" + std::to_string(port)}});
  ASSERT_TRUE(flow.Start({song})) << flow.Log();
  ASSERT_TRUE(flow.MakeRingtone()) << flow.Log();
  flow.Keys({"Return"});
  ASSERT_TRUE(flow.Wait("view viewProfile")) << flow.Log();
  flow.FillProfile();
  flow.Keys({"Return"});
  ASSERT_TRUE(flow.Wait("view viewSend")) << flow.Log();
  flow.Keys({"Return"});
  ASSERT_TRUE(flow.Wait("send failed: ", 60000)) << flow.Log();
  EXPECT_NE(flow.RestOfLine().find("could not be reached"), std::string::npos) << flow.RestOfLine();
  flow.Shot("08-service-down.png");

  // The service comes up; "Try again" sends the ringtone that was kept.
  Service service(port);
  ASSERT_EQ(service.Port(), port);
  flow.Keys({"Return"});
  ASSERT_TRUE(flow.Wait("send done", 60000)) << flow.Log();
  EXPECT_EQ(flow.Log().find("view viewMake", flow.Log().find("send failed")), std::string::npos);
  auto delivered = service.Deliveries(kPhoneDigits);
  ASSERT_EQ(delivered.size(), 1u);
  ExpectRingtone(delivered[0], 4.0);
}

// A song dropped on the start page from a file manager is the song (the
// page takes the drop; the view goes nowhere), and becomes a ringtone.
TEST(Flow, ASongDroppedOnTheStartPageBecomesTheRingtone) {
  TempDir music;
  const std::string song = music / "Dropped Song.wav";
  ASSERT_TRUE(MakeSong(song, 3.0));
  Flow flow({});
  ASSERT_TRUE(flow.Start()) << flow.Log();
  AppHarness::Geometry g = AppHarness::WindowGeometry(flow.Window());
  gchar* uri = g_filename_to_uri(song.c_str(), nullptr, nullptr);
  ASSERT_TRUE(DragFileOnto(uri, g.x + g.width / 2, g.y + g.height / 2));
  g_free(uri);
  ASSERT_TRUE(flow.Wait("view viewSong")) << flow.Log();  // the song view, with the song
  ASSERT_TRUE(flow.MakeRingtone()) << flow.Log();
  EXPECT_NEAR(std::atof(flow.RestOfLine().c_str()), 3.0, 0.1) << flow.RestOfLine();
  ASSERT_TRUE(flow.Wait("labels ")) << flow.Log();
  EXPECT_EQ(flow.RestOfLine(), "name=Dropped Song (MP3)|length=0:03|player=0:00 / 0:03");
  EXPECT_EQ(flow.Log().find("which is not shown"), std::string::npos);
  AppHarness::RequestClose(flow.Window());
  EXPECT_TRUE(flow.App().WaitExit(20000));
}

// The About box and the help pages, opened from the links of the start
// page's title band with the keyboard.
struct HelpPage {
  const char* title;
  const char* shot;
  const char* closeKey;
};

void OpenEachHelpPage(Flow& flow, const std::vector<HelpPage>& pages) {
  for (const HelpPage& page : pages) {
    flow.Keys({"shift+Tab", "Return"});
    std::string dialog = flow.App().FindWindow(std::string("  ") + page.title, 15000);
    ASSERT_FALSE(dialog.empty()) << page.title;
    Shot(dialog, page.shot);
    flow.App().Keys(dialog, {page.closeKey});
    ASSERT_TRUE(flow.App().WaitUntil(
        [&] {
          return AppHarness::Xdo(
                     {"search", "--onlyvisible", "--name", std::string("^  ") + page.title + "$"})
              .empty();
        },
        10000))
        << page.title;
  }
  EXPECT_TRUE(flow.App().Running());
}

TEST(Flow, HelpPagesOpenInTheirDialogs) {
  Flow flow({});
  ASSERT_TRUE(flow.Start()) << flow.Log();
  // Shift+Tab from "Choose a file..." walks the links backwards.
  OpenEachHelpPage(
      flow, {
                {"About Zimbrel", "10-about.png", "Return"},
                {"Zimbrel - FAQ and Contact us", "11-help-contact.png", "Escape"},
                {"Zimbrel - Phone Compatibility Test", "12-help-compatibility.png", "Escape"},
                {"Zimbrel - How to use the application", "13-help-usage.png", "Escape"},
            });
}

// A German desktop session: the pages load the German catalogue and every
// step and page dialog is German (the pictures under ShotDir()/de show that
// the longer words fit).
TEST(Flow, GermanSessionShowsEveryStepAndDialogInGerman) {
  Service service;
  ASSERT_GT(service.Port(), 0);
  TempDir music;
  const std::string song = music / "Mein Lied.wav";
  ASSERT_TRUE(MakeSong(song, 6.0));
  std::map<std::string, std::string> env = kGerman;
  env["ZIMBREL_SERVICE_HOST"] = service.Host();

  Flow flow(env, kGermanTitle);
  ASSERT_TRUE(flow.Start({song})) << flow.Log();
  EXPECT_NE(flow.Log().find("language de title=" + std::string(kGermanTitle)), std::string::npos)
      << flow.Log();
  flow.Shot("de/01-song-chosen.png");
  flow.Keys({"Return"});
  ASSERT_TRUE(flow.PartReady()) << flow.Log();
  flow.Shot("de/02b-part.png");
  ASSERT_TRUE(flow.MakeFromPart()) << flow.Log();
  flow.Shot("de/03-ringtone-ready.png");
  flow.Keys({"Return"});
  ASSERT_TRUE(flow.Wait("view viewProfile")) << flow.Log();
  flow.Type("Anna Beispiel");
  flow.Keys({"Return"});
  flow.Shot("de/04a-profile-check.png");
  flow.Type("+49 151 23456789");
  flow.Keys({"Tab"});
  flow.Type("Funkwelle");
  flow.Shot("de/04-your-phone.png");
  flow.Keys({"Return"});
  ASSERT_TRUE(flow.Wait("view viewSend")) << flow.Log();
  flow.Shot("de/05-send.png");
  flow.Keys({"Return"});
  ASSERT_TRUE(flow.Wait("send done", 60000)) << flow.Log();
  ASSERT_TRUE(flow.Wait("service address ")) << flow.Log();
  ASSERT_TRUE(flow.Wait("phones")) << flow.Log();
  flow.Shot("de/07-sent.png");
  EXPECT_EQ(service.Deliveries("4915123456789").size(), 1u);
  // Every text of the markup found its entry as the browser reads it.
  EXPECT_EQ(flow.Log().find("untranslated"), std::string::npos) << flow.Log();
  AppHarness::RequestClose(flow.Window());
  EXPECT_TRUE(flow.App().WaitExit(20000));

  Flow dialogs(kGerman, kGermanTitle);
  ASSERT_TRUE(dialogs.Start()) << dialogs.Log();
  OpenEachHelpPage(
      dialogs, {
                   {"\u00dcber Zimbrel", "de/10-about.png", "Return"},
                   {"Zimbrel - FAQ und Kontakt", "de/11-help-contact.png", "Escape"},
                   {"Zimbrel - Kompatibilit\u00e4tstest f\u00fcr Telefone",
                    "de/12-help-compatibility.png", "Escape"},
                   {"Zimbrel - So verwenden Sie die Anwendung", "de/13-help-usage.png", "Escape"},
               });
  EXPECT_EQ(dialogs.Log().find("untranslated"), std::string::npos) << dialogs.Log();
}

}  // namespace
}  // namespace zb::testing
