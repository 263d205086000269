// From "Send" in the real program to a phone on the home network. The
// program and its service run in a network namespace of their own (the
// "desktop", whose only interface is a veth end named lan0); the phone is a
// client in another, joined to it by the veth pair, so no test traffic
// touches the machine's own interfaces. The phone reads the QR code off a
// screenshot of the done page, opens the link and gets the MP3 byte for byte
// and an M4R that ffprobe reads as AAC in MPEG-4 of the same length; the link
// fails with one character of its token changed and after its lifetime, and
// nothing else of the service answers the phone.
//
// Needs root (the namespaces), ip, curl, zbarimg and ffprobe; skips with the
// reason otherwise.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <thread>

#include "app_harness.h"
#include "netns.h"
#include "service/session_bus.h"
#include "service/socket_service.h"

namespace zb::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kTitle[] = "Zimbrel - The Ringtone Creator";
constexpr int kShareLifetime = 40;  // seconds

// The calling thread in the network namespace `ns` while the object lives:
// children started meanwhile (the program, and through it its web
// processes and tools) stay in it.
class InNamespace {
 public:
  explicit InNamespace(const std::string& ns) {
    m_self = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    int fd = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    m_ok = m_self >= 0 && fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
    if (fd >= 0) ::close(fd);
  }
  ~InNamespace() {
    if (m_ok) ::setns(m_self, CLONE_NEWNET);
    if (m_self >= 0) ::close(m_self);
  }
  InNamespace(const InNamespace&) = delete;
  InNamespace& operator=(const InNamespace&) = delete;
  bool Ok() const { return m_ok; }

 private:
  int m_self = -1;
  bool m_ok = false;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Have(const char* tool) {
  return !RunCapture({"sh", "-c", std::string("command -v ") + tool}).empty();
}

// The page's console, as Flow in flow_e2e_test.cpp reads it: the program
// prints it on its standard error, pointed at a file while it starts.
class Console {
 public:
  void Start(AppHarness& app, const std::vector<std::string>& args,
             const std::map<std::string, std::string>& env) {
    int log = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int saved = ::dup(2);
    ::dup2(log, 2);
    app.Start(args, env);
    ::dup2(saved, 2);
    ::close(saved);
    ::close(log);
  }
  std::string Log() const { return ReadAll(m_path); }
  // Waits for "zimbrel-page: <what>" after what was seen; the rest of its
  // line in `rest`.
  bool Wait(const AppHarness& app, const std::string& what, int timeoutMs = 30000,
            std::string* rest = nullptr) {
    const std::string needle = "zimbrel-page: " + what;
    size_t at = std::string::npos;
    std::string log;
    if (!app.WaitUntil(
            [&] {
              log = Log();
              at = log.find(needle, m_cursor);
              return at != std::string::npos && log.find('\n', at) != std::string::npos;
            },
            timeoutMs))
      return false;
    m_cursor = at + needle.size();
    if (rest) *rest = log.substr(m_cursor, log.find('\n', m_cursor) - m_cursor);
    return true;
  }

 private:
  TempDir m_dir;
  std::string m_path = m_dir / "console.txt";
  size_t m_cursor = 0;
};

// A GET (or POST, with `post`) from the phone: the status curl saw (0 when
// no answer came), the body in `out`.
int PhoneGet(NetnsPair& net, const std::string& url, const std::string& out = "/dev/null",
             bool post = false) {
  std::vector<std::string> argv = {
      "curl", "-s",         "-o", out,         "-w", "%{http_code}", "--connect-timeout",
      "10",   "--max-time", "60", "--noproxy", "*"};
  if (post) argv.insert(argv.end(), {"--data-binary", "ringtone bytes"});
  argv.push_back(url);
  std::string said;
  net.Run(net.Phone(), argv, &said);
  return std::atoi(said.c_str());
}

double Seconds(const std::string& file) {
  std::string d = RunCapture({"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of",
                              "default=noprint_wrappers=1:nokey=1", file});
  return d.empty() ? -1 : std::atof(d.c_str());
}

// A KDE Connect daemon in a namespace of the test's, with a session bus
// (which can start nothing of the machine's), a home and a configuration of
// its own; the phone's announces itself as a phone. Its bus is a path, so
// gdbus reaches it from outside the namespace.
class KdeConnect {
 public:
  static constexpr char kDaemon[] = "/usr/lib/x86_64-linux-gnu/libexec/kdeconnectd";

  KdeConnect(const std::string& ns, bool phone) : m_ns(ns), m_bus(ns) {
    std::vector<std::string> env = {"PATH=/usr/bin:/bin",
                                    "HOME=" + home.Path(),
                                    "XDG_CONFIG_HOME=" + std::string(home / ".config"),
                                    "XDG_DATA_HOME=" + std::string(home / ".local/share"),
                                    "QT_QPA_PLATFORM=offscreen",
                                    "DBUS_SESSION_BUS_ADDRESS=" + m_bus.Address()};
    if (phone) env.push_back("PLASMA_PLATFORM=phone");
    if (m_bus.Ok())
      m_daemonPid =
          SpawnLogged({"ip", "netns", "exec", ns, kDaemon}, home / "daemon.log", -1, &env);
  }
  ~KdeConnect() {
    EndChild(m_daemonPid, std::chrono::seconds(5));
    // The daemon's helpers that wait for a name on its bus outlive it (they
    // are left to init): ended here, by their ids, in the namespace only.
    std::string pids = RunCapture({"ip", "netns", "pids", m_ns});
    for (size_t at = 0; at < pids.size();) {
      size_t end = pids.find('\n', at);
      if (end == std::string::npos) end = pids.size();
      pid_t pid = std::atoi(pids.substr(at, end - at).c_str());
      at = end + 1;
      if (pid > 0 &&
          ReadAll("/proc/" + std::to_string(pid) + "/comm").rfind("plasma_waitfor", 0) == 0)
        ::kill(pid, SIGTERM);
    }
  }
  KdeConnect(const KdeConnect&) = delete;
  KdeConnect& operator=(const KdeConnect&) = delete;

  std::string Bus() const { return m_bus.Address(); }
  // gdbus call on the daemon: its output ("" when the call failed).
  std::string Call(const std::string& object, const std::string& method,
                   const std::vector<std::string>& args = {}) const {
    return m_bus.Call("", "org.kde.kdeconnect", object, method, args);
  }
  // The ids of the devices it sees (only the paired and reachable ones with
  // `paired`).
  std::vector<std::string> Devices(bool paired) const {
    std::string out = Call("/modules/kdeconnect", "org.kde.kdeconnect.daemon.devices",
                           {paired ? "true" : "false", paired ? "true" : "false"});
    std::vector<std::string> ids;
    std::regex id("'([A-Za-z0-9_]+)'");
    for (std::sregex_iterator i(out.begin(), out.end(), id), end; i != end; ++i)
      ids.push_back((*i)[1]);
    return ids;
  }

  TempDir home;

 private:
  std::string m_ns;
  SessionBus m_bus;
  pid_t m_daemonPid = -1;
};

// The program and its service in the desktop namespace, sent from the start
// page to the done step. The service gets a session bus of its own in that
// namespace (`bus`), or none: never the test's, where asking for KDE
// Connect could start a daemon outside the namespaces.
class Desktop {
 public:
  explicit Desktop(NetnsPair& net) : m_net(net) {}

  // Starts the service (with `options`) and the program, and sends a 6 s
  // song until the page reports `end` (the done step by default); false
  // with the reason in `why`.
  bool SendToTheDoneStep(const std::vector<std::string>& options, const std::string& bus,
                         std::string* why, const std::string& end = "send done") {
    ::chmod(runtime.Path().c_str(), 0700);
    const std::string socketDir = runtime / "zimbrel";
    ::mkdir(socketDir.c_str(), 0700);
    m_env = {"PATH=" + std::string(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin"),
             "HOME=" + home.Path(),
             "DBUS_SESSION_BUS_ADDRESS=" +
                 (bus.empty() ? "unix:path=" + std::string(home / "no-bus") : bus)};
    service = std::make_unique<SocketService>(
        socketDir + "/service.sock", data.Path(), options,
        std::vector<std::string>{"ip", "netns", "exec", m_net.Desktop()}, &m_env);
    if (!service->Ok()) return Fail(why, "the service did not start: " + service->Log());
    const std::string song = music / "Phone Song.wav";
    if (!MakeSong(song, 6.0)) return Fail(why, "no song");
    {
      InNamespace desktop(m_net.Desktop());
      if (!desktop.Ok()) return Fail(why, "cannot enter the desktop namespace");
      page.Start(app, {song},
                 {{"ZIMBREL_SERVICE_HOST", "user"},
                  {"XDG_RUNTIME_DIR", runtime.Path()},
                  {"ZIMBREL_PAGE_CONSOLE", "1"}});
    }
    window = app.FindWindow(kTitle, 60000);
    if (window.empty() || !page.Wait(app, "view viewSong", 60000))
      return Fail(why, "no start page: " + page.Log());
    // Song, ringtone, profile (typed), send.
    // The song's part as offered (all of a 6 s song), then the ringtone.
    std::string made;
    bool ok = app.Keys(window, {"Return"}) && page.Wait(app, "view viewPart") &&
              page.Wait(app, "part ready ", 60000) && app.Keys(window, {"Return"}) &&
              page.Wait(app, "view viewReady", 120000) && page.Wait(app, "ringtone ", 10000, &made);
    if (ok) {
      // "6.03 s, 48733 bytes"
      size_t comma = made.find(", ");
      m_ringtoneBytes = comma == std::string::npos ? 0 : std::stoull(made.substr(comma + 2));
    }
    ok = ok && app.Keys(window, {"Return"}) && page.Wait(app, "view viewProfile") &&
         AppHarness::Type(window, "Ann Example") && app.Keys(window, {"Tab"}) &&
         AppHarness::Type(window, "+44 7700 900123") && app.Keys(window, {"Tab"}) &&
         AppHarness::Type(window, "Tellwave") && app.Keys(window, {"Return"}) &&
         page.Wait(app, "view viewSend") && app.Keys(window, {"Return"}) &&
         page.Wait(app, end, 60000);
    return ok || Fail(why, "the send did not end: " + page.Log());
  }

  // The ringtone the program made, from its work folder: the MP3 of the
  // size the page reported.
  std::string Ringtone() const {
    for (const auto& e : fs::recursive_directory_iterator(app.WorkDir()))
      if (e.path().extension() == ".mp3" && e.file_size() == m_ringtoneBytes)
        return ReadAll(e.path());
    return "";
  }

  ~Desktop() {
    if (!window.empty()) {
      AppHarness::RequestClose(window);
      app.WaitExit(30000);
    }
  }

  TempDir runtime, data, music, home;
  std::unique_ptr<SocketService> service;
  AppHarness app;
  Console page;
  std::string window;

 private:
  static bool Fail(std::string* why, const std::string& what) {
    *why = what;
    return false;
  }
  NetnsPair& m_net;
  std::vector<std::string> m_env;
  uintmax_t m_ringtoneBytes = 0;
};

TEST(Delivery, TheRingtoneReachesAPhoneOnTheHomeNetworkByItsQrCode) {
  NetnsPair net;
  if (!net.Ok()) GTEST_SKIP() << net.Why();
  for (const char* tool : {"curl", "zbarimg", "ffprobe", "import"})
    if (!Have(tool)) GTEST_SKIP() << "needs " << tool;

  // The service's session bus has no phone daemon: no phones are offered.
  SessionBus bus(net.Desktop());
  ASSERT_TRUE(bus.Ok());
  Desktop desk(net);
  std::string why;
  ASSERT_TRUE(desk.SendToTheDoneStep({"--share-lifetime", std::to_string(kShareLifetime)},
                                     bus.Address(), &why))
      << why;
  AppHarness& app = desk.app;
  Console& page = desk.page;
  SocketService& service = *desk.service;
  std::string shown;
  ASSERT_TRUE(page.Wait(app, "share link ", 30000, &shown)) << page.Log();
  std::string phones = "?";
  ASSERT_TRUE(page.Wait(app, "phones ", 30000, &phones)) << page.Log();
  EXPECT_EQ(phones, "");
  const std::string prefix = "http://" + net.DesktopAddress() + ":";
  ASSERT_EQ(shown.rfind(prefix, 0), 0u) << shown;
  // The service's page address comes from the service too (the page cannot
  // know its browser port): a loopback address.
  std::string address;
  ASSERT_TRUE(page.Wait(app, "service address ", 30000, &address)) << page.Log();
  EXPECT_EQ(address.rfind(service.BrowserUrl() + "redir.php?", 0), 0u) << address;

  // The QR code, read from the screen as a phone's camera would.
  TempDir shots;
  std::string fromQr;
  bool read = app.WaitUntil(
      [&] {
        const std::string shot = shots / "done.png";
        AppHarness::Screenshot(shot);
        fromQr = RunCapture({"zbarimg", "--raw", "-q", shot});
        while (!fromQr.empty() && (fromQr.back() == '\n' || fromQr.back() == '\r'))
          fromQr.pop_back();
        return !fromQr.empty();
      },
      30000);
  AppHarness::Screenshot(ShotDir() + "/08-delivered.png");
  ASSERT_TRUE(read) << "no QR code on the screen: see " << ShotDir() << "/08-delivered.png";
  EXPECT_EQ(fromQr, shown);

  // The phone opens it: a small page with the two downloads.
  TempDir phone;
  ASSERT_EQ(PhoneGet(net, fromQr, phone / "page.html"), 200) << service.Log();
  const std::string html = ReadAll(phone / "page.html");
  EXPECT_NE(html.find("Android (MP3)"), std::string::npos) << html;
  EXPECT_NE(html.find("iPhone (M4R)"), std::string::npos) << html;
  std::string base = fromQr;
  if (base.back() == '/') base.pop_back();
  ASSERT_EQ(PhoneGet(net, base + "/ringtone.mp3", phone / "ringtone.mp3"), 200);
  ASSERT_EQ(PhoneGet(net, base + "/ringtone.m4r", phone / "ringtone.m4r"), 200);

  // The MP3 is the ringtone the program made, byte for byte.
  const std::string mp3 = ReadAll(phone / "ringtone.mp3");
  EXPECT_FALSE(mp3.empty());
  EXPECT_TRUE(mp3 == desk.Ringtone()) << "the phone's MP3 differs from the ringtone";
  // The M4R: AAC in MPEG-4, as long as the MP3.
  std::string probe =
      RunCapture({"ffprobe", "-v", "error", "-show_entries", "format=format_name:stream=codec_name",
                  "-of", "default=noprint_wrappers=1", phone / "ringtone.m4r"});
  EXPECT_NE(probe.find("codec_name=aac"), std::string::npos) << probe;
  EXPECT_NE(probe.find("format_name=mov,mp4,m4a"), std::string::npos) << probe;
  EXPECT_NEAR(Seconds(phone / "ringtone.m4r"), Seconds(phone / "ringtone.mp3"), 0.15);

  // One character of the token changed: nothing.
  std::smatch m;
  ASSERT_TRUE(std::regex_search(fromQr, m, std::regex("/s/([0-9a-f]+)")));
  std::string token = m[1];
  std::string wrong = token;
  wrong[wrong.size() / 2] = wrong[wrong.size() / 2] == 'a' ? 'b' : 'a';
  const std::string root = fromQr.substr(0, fromQr.find("/s/"));
  EXPECT_EQ(PhoneGet(net, root + "/s/" + wrong), 404);
  EXPECT_EQ(PhoneGet(net, root + "/s/" + wrong + "/ringtone.mp3"), 404);

  // From the phone, the service is the share and nothing else: no sessions,
  // no uploads, no pages of phones, no redirects, no share answers (no
  // answer at all, or a refusal).
  for (const std::string& path :
       {std::string("/cgi-bin/zbl_session.cgi?name=Eve&phone=1&network=x"),
        std::string("/phone/447700900123"), std::string("/redir.php?where=phone%3A1"),
        std::string("/cgi-bin/zbl_devices.cgi"), std::string("/cgi-bin/zbl_browser.cgi"),
        std::string("/")}) {
    int code = PhoneGet(net, root + path);
    EXPECT_TRUE(code == 0 || (code >= 400 && code < 500)) << path << ": " << code;
  }
  int upload =
      PhoneGet(net, root + "/cgi-bin/zbl_upload2.cgi?sid=1&ver=260&aff=2", "/dev/null", true);
  EXPECT_TRUE(upload == 0 || (upload >= 400 && upload < 500)) << upload;
  // The service's loopback port is not on the network at all.
  EXPECT_EQ(PhoneGet(net, "http://" + net.DesktopAddress() + ":" +
                              std::to_string(service.BrowserPort()) + "/"),
            0);

  // After its lifetime the link is gone.
  int code = 200;
  EXPECT_TRUE(app.WaitUntil(
      [&] {
        code = PhoneGet(net, fromQr);
        if (code == 200) std::this_thread::sleep_for(std::chrono::seconds(1));
        return code != 200;
      },
      (kShareLifetime + 60) * 1000));
  EXPECT_TRUE(code == 404 || code == 0) << code;
}

// A phone paired through KDE Connect: the done step lists it by its name
// (as text) and its "Send to" button hands it the ringtone, which lands in
// the phone's download folder byte for byte. Both daemons live in the
// test's namespaces, the link slowed to 1 Mbit/s (KDE Connect stalls small
// files that arrive at once).
TEST(Delivery, APhonePairedThroughKdeConnectGetsTheRingtoneFromItsButton) {
  NetnsPair net("1mbit");
  if (!net.Ok()) GTEST_SKIP() << net.Why();
  if (!fs::exists(KdeConnect::kDaemon)) GTEST_SKIP() << "needs kdeconnect";
  for (const char* tool : {"gdbus", "dbus-daemon"})
    if (!Have(tool)) GTEST_SKIP() << "needs " << tool;

  // The phone first, then the desktop; they find each other by broadcast.
  KdeConnect phone(net.Phone(), true);
  const std::string name = "Ann's <b>Phone</b>";
  AppHarness waiter;
  ASSERT_TRUE(waiter.WaitUntil(
      [&] {
        return !phone
                    .Call("/modules/kdeconnect", "org.kde.kdeconnect.daemon.setAnnouncedName",
                          {name})
                    .empty();
      },
      30000));
  KdeConnect desk(net.Desktop(), false);
  std::string phoneId, deskId;
  ASSERT_TRUE(waiter.WaitUntil(
      [&] {
        auto d = desk.Devices(false), p = phone.Devices(false);
        if (d.empty() || p.empty()) return false;
        phoneId = d[0];
        deskId = p[0];
        return true;
      },
      60000))
      << "the daemons did not find each other";
  desk.Call("/modules/kdeconnect/devices/" + phoneId, "org.kde.kdeconnect.device.requestPair");
  ASSERT_TRUE(waiter.WaitUntil(
      [&] {
        return phone
                   .Call("/modules/kdeconnect/devices/" + deskId,
                         "org.freedesktop.DBus.Properties.Get",
                         {"org.kde.kdeconnect.device", "hasPairingRequests"})
                   .find("true") != std::string::npos;
      },
      30000));
  phone.Call("/modules/kdeconnect/devices/" + deskId, "org.kde.kdeconnect.device.acceptPairing");
  ASSERT_TRUE(waiter.WaitUntil([&] { return !desk.Devices(true).empty(); }, 30000));

  Desktop d(net);
  std::string why;
  ASSERT_TRUE(d.SendToTheDoneStep({}, desk.Bus(), &why)) << why;
  std::string phones;
  ASSERT_TRUE(d.page.Wait(d.app, "phones ", 30000, &phones)) << d.page.Log();
  EXPECT_EQ(phones, name);
  // The phone's button comes right before the actions below the card:
  // "See it on the service", then "Make another ringtone", which has the
  // focus.
  ASSERT_TRUE(d.app.Keys(d.window, {"shift+Tab", "shift+Tab", "Return"}));
  std::string pushed;
  ASSERT_TRUE(d.page.Wait(d.app, "push ", 60000, &pushed)) << d.page.Log();
  EXPECT_EQ(pushed, "ok " + name);
  AppHarness::Screenshot(ShotDir() + "/09-sent-to-paired-phone.png");

  const std::string ringtone = d.Ringtone();
  ASSERT_FALSE(ringtone.empty());
  const fs::path downloads = phone.home / "Downloads";
  std::string got;
  EXPECT_TRUE(waiter.WaitUntil(
      [&] {
        if (!fs::exists(downloads)) return false;
        for (const auto& e : fs::directory_iterator(downloads))
          if (e.path().extension() != ".part" && e.file_size() == ringtone.size()) {
            got = ReadAll(e.path());
            return true;
          }
        return false;
      },
      60000))
      << "nothing arrived in " << downloads;
  EXPECT_TRUE(got == ringtone) << "the phone's file differs from the ringtone";
}

// A ringtone larger than the session may deliver: the service refuses it
// at the head of the upload, and the page says there is no room for it.
TEST(Delivery, AnUploadOverTheSessionQuotaIsRefusedAndThePageSaysSo) {
  NetnsPair net;
  if (!net.Ok()) GTEST_SKIP() << net.Why();
  SessionBus bus(net.Desktop());
  ASSERT_TRUE(bus.Ok());
  Desktop desk(net);
  std::string why;
  ASSERT_TRUE(
      desk.SendToTheDoneStep({"--session-quota", "10000"}, bus.Address(), &why, "send failed: "))
      << why;
  const std::string log = desk.page.Log();
  EXPECT_NE(log.find("send failed: The ringtone service has no room for this ringtone"),
            std::string::npos)
      << log;
  // Nothing of it was kept.
  for (const auto& e : fs::recursive_directory_iterator(desk.data.Path()))
    EXPECT_FALSE(e.is_regular_file() && e.path().extension() == ".mp3") << e.path();
}

}  // namespace
}  // namespace zb::testing
