// Phones paired through KDE Connect: the list and the hand-over, with a real
// second KDE Connect daemon playing the phone in a network namespace of its
// own, each daemon with its own session bus and home. And the service never
// starts a phone daemon that is not running.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "netns.h"
#include "service_json.h"
#include "session_bus.h"
#include "socket_service.h"
#include "temp_dir.h"

namespace zb {
namespace {

namespace fs = std::filesystem;
using testing::HttpAnswer;
using testing::NetnsPair;
using testing::RunTool;
using testing::SessionBus;
using testing::SocketService;
using testing::TempDir;

constexpr char kKdeConnectd[] = "/usr/lib/x86_64-linux-gnu/libexec/kdeconnectd";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// Polls `done` every 200 ms for up to `seconds`.
bool Eventually(const std::function<bool()>& done, int seconds) {
  for (int i = 0; i < seconds * 5; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return done();
}

TEST(ServicePhones, NoDaemonRunningNoPhonesAndNoneStarted) {
  if (RunTool({"dbus-daemon", "--version"}) != 0) GTEST_SKIP() << "dbus-daemon is missing";
  TempDir dir;
  SessionBus bus;
  ASSERT_TRUE(bus.Ok());
  // Were either daemon started by D-Bus activation, it would leave a mark.
  bus.AddActivation("org.kde.kdeconnect", "/usr/bin/touch " + dir / "kdeconnect-started");
  bus.AddActivation("org.gnome.Shell.Extensions.GSConnect",
                    "/usr/bin/touch " + dir / "gsconnect-started");
  SocketService service(dir / "s.sock", dir / "data", {}, bus.With({}));
  ASSERT_TRUE(service.Ok()) << service.Log();
  HttpAnswer devices = service.Get("/cgi-bin/zbl_devices.cgi");
  EXPECT_EQ(devices.status, 200);
  EXPECT_NE(devices.head.find("application/json"), std::string::npos);
  EXPECT_EQ(devices.body, "[]");
  const std::string sid = service.OpenSession();
  HttpAnswer none = service.Get("/cgi-bin/zbl_push.cgi?sid=" + sid + "&device=abc");
  EXPECT_EQ(none.status, 404);  // nothing delivered yet
  EXPECT_FALSE(testing::JsonField(none.body, "error").empty());
  ASSERT_EQ(service.Post("/cgi-bin/zbl_upload2.cgi?sid=" + sid, std::string(2000, 'r')).status,
            200);
  HttpAnswer push = service.Get("/cgi-bin/zbl_push.cgi?sid=" + sid + "&device=abc");
  EXPECT_NE(push.status, 200);
  EXPECT_FALSE(testing::JsonField(push.body, "error").empty()) << push.body;
  HttpAnswer bad = service.Get("/cgi-bin/zbl_push.cgi?sid=" + sid + "&device=..%2Fx");
  EXPECT_EQ(bad.status, 404);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // an activation would be quick
  EXPECT_FALSE(fs::exists(dir / "kdeconnect-started"));
  EXPECT_FALSE(fs::exists(dir / "gsconnect-started"));
}

// One KDE Connect daemon with its own home, identity and session bus, in a
// network namespace.
class KdeConnect {
 public:
  KdeConnect(NetnsPair& net, const std::string& ns, const std::string& id, bool phone)
      : m_ns(ns), m_id(id), m_bus(ns) {
    const std::string config = m_home / ".config/kdeconnect";
    fs::create_directories(config);
    fs::create_directories(m_home / "run");
    fs::permissions(m_home / "run", fs::perms::owner_all);
    RunTool({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650", "-subj",
             "/O=KDE/OU=Kde connect/CN=" + id, "-keyout", config + "/privateKey.pem", "-out",
             config + "/certificate.pem"});
    std::ofstream(config + "/config")
        << "[General]\nname=" << (phone ? "Test Phone" : "Desktop") << "\n";
    std::vector<std::string> argv = net.In(
        ns, m_bus.With({"env", "HOME=" + m_home.Path(), "XDG_CONFIG_HOME=" + m_home / ".config",
                        "XDG_DATA_HOME=" + m_home / ".local/share",
                        "XDG_RUNTIME_DIR=" + m_home / "run", "QT_QPA_PLATFORM=offscreen",
                        std::string("PLASMA_PLATFORM=") + (phone ? "phone" : "desktop"),
                        kKdeConnectd}));
    m_pid = testing::SpawnLogged(argv, m_home / "daemon.log");
  }
  ~KdeConnect() { testing::EndChild(m_pid, std::chrono::seconds(5)); }

  bool Ok() const { return m_bus.Ok() && m_pid > 0; }
  const SessionBus& Bus() const { return m_bus; }
  std::string Home() const { return m_home.Path(); }
  std::string Call(const std::string& path, const std::string& method,
                   const std::vector<std::string>& args = {}) const {
    return m_bus.Call(m_ns, "org.kde.kdeconnect", path, method, args);
  }
  std::string Devices(bool pairedAndReachable) const {
    const char* flag = pairedAndReachable ? "true" : "false";
    return Call("/modules/kdeconnect", "org.kde.kdeconnect.daemon.devices", {flag, flag});
  }
  std::string Log() const { return ReadFile(m_home / "daemon.log"); }

 private:
  std::string m_ns, m_id;
  TempDir m_home;
  SessionBus m_bus;
  pid_t m_pid = -1;
};

TEST(ServicePhones, KdeConnectHandsTheRingtoneToThePairedPhone) {
  if (!fs::exists(kKdeConnectd)) GTEST_SKIP() << "kdeconnect is not installed";
  if (RunTool({"openssl", "version"}) != 0) GTEST_SKIP() << "openssl is missing";
  // Small files arrive whole only on a slower link (KDE Connect 22.12).
  NetnsPair net("1mbit");
  if (!net.Ok()) GTEST_SKIP() << net.Why();
  const std::string phoneId = "zbtestphone" + std::to_string(::getpid());
  const std::string deskId = "zbtestdesk" + std::to_string(::getpid());
  KdeConnect phone(net, net.Phone(), phoneId, true);  // the phone first
  ASSERT_TRUE(phone.Ok());
  ASSERT_TRUE(Eventually([&] { return !phone.Devices(false).empty(); }, 30)) << phone.Log();
  KdeConnect desktop(net, net.Desktop(), deskId, false);
  ASSERT_TRUE(desktop.Ok());
  ASSERT_TRUE(
      Eventually([&] { return desktop.Devices(false).find(phoneId) != std::string::npos; }, 60))
      << desktop.Log() << phone.Log();

  // Paired through D-Bus: asked by the desktop, accepted on the phone.
  const std::string onDesk = "/modules/kdeconnect/devices/" + phoneId;
  const std::string onPhone = "/modules/kdeconnect/devices/" + deskId;
  desktop.Call(onDesk, "org.kde.kdeconnect.device.requestPair");
  ASSERT_TRUE(Eventually(
      [&] {
        return phone.Call(onPhone, "org.kde.kdeconnect.device.hasPairingRequests").find("true") !=
               std::string::npos;
      },
      30));
  phone.Call(onPhone, "org.kde.kdeconnect.device.acceptPairing");
  ASSERT_TRUE(
      Eventually([&] { return desktop.Devices(true).find(phoneId) != std::string::npos; }, 30));

  TempDir dir;
  SocketService service(dir / "s.sock", dir / "data", {}, net.InDesktop(desktop.Bus().With({})));
  ASSERT_TRUE(service.Ok()) << service.Log();
  HttpAnswer devices = service.Get("/cgi-bin/zbl_devices.cgi");
  EXPECT_EQ(devices.body,
            "[{\"id\": \"" + phoneId + "\", \"name\": \"Test Phone\", \"via\": \"kdeconnect\"}]");

  ASSERT_EQ(RunTool({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=d=12", "-c:a",
                     "libmp3lame", "-b:a", "128k", "-y", dir / "tone.mp3"}),
            0);
  const std::string tone = ReadFile(dir / "tone.mp3");
  const std::string sid = service.OpenSession();
  ASSERT_EQ(service.Post("/cgi-bin/zbl_upload2.cgi?sid=" + sid, tone).status, 200);
  HttpAnswer push = service.Get("/cgi-bin/zbl_push.cgi?sid=" + sid + "&device=" + phoneId);
  EXPECT_EQ(push.status, 200) << push.body;
  EXPECT_EQ(push.body, "{\"ok\": true}");

  // It lands in the phone's download folder, byte for byte.
  const fs::path downloads = fs::path(phone.Home()) / "Downloads";
  std::string got;
  EXPECT_TRUE(Eventually(
      [&] {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(downloads, ec))
          if (e.path().extension() == ".mp3") {
            got = ReadFile(e.path());
            if (got == tone) return true;
          }
        return false;
      },
      90))
      << "received " << got.size() << " of " << tone.size() << " bytes\n"
      << phone.Log();
}

// GSConnect's daemon without GNOME Shell: its service under gjs with an X
// display of its own (Xvfb) and settings in a key file, from the extension
// unpacked for the tests (scripts/install-deps.sh --test).
class GsConnect {
 public:
  static std::string Extension() {
    const char* dir = std::getenv("ZIMBREL_GSCONNECT_DIR");
    return dir ? dir
               : "/opt/zimbrel-tests/gsconnect/usr/share/gnome-shell/extensions/"
                 "gsconnect@andyholmes.github.io";
  }

  GsConnect(NetnsPair& net, const std::string& ns, const std::string& id) : m_ns(ns), m_bus(ns) {
    const fs::path ext = Extension();
    const fs::path schemas = m_home / "schemas";
    fs::create_directories(schemas);
    fs::copy_file(
        ext / "../../../glib-2.0/schemas/org.gnome.Shell.Extensions.GSConnect.gschema.xml",
        schemas / "org.gnome.Shell.Extensions.GSConnect.gschema.xml", m_ec);
    RunTool({"glib-compile-schemas", schemas.string()});
    fs::create_directories(m_home / ".config/glib-2.0/settings");
    // Its id goes into the certificate: letters and digits only, which
    // KDE Connect on the other end accepts.
    std::ofstream(m_home / ".config/glib-2.0/settings/keyfile")
        << "[org/gnome/shell/extensions/gsconnect]\nid='" << id << "'\nname='Desktop'\n";
    fs::create_directories(m_home / "run");
    fs::permissions(m_home / "run", fs::perms::owner_all);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    m_xvfb = testing::SpawnLogged(
        net.In(ns, {"Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-noreset"}),
        m_home / "xvfb.log", fds[1]);
    ::close(fds[1]);
    const std::string display = testing::ReadFirstLine(fds[0], std::chrono::seconds(20));
    ::close(fds[0]);
    if (display.empty()) return;
    m_daemon = testing::SpawnLogged(
        net.In(ns,
               m_bus.With({"env", "HOME=" + m_home.Path(), "XDG_CONFIG_HOME=" + m_home / ".config",
                           "XDG_DATA_HOME=" + m_home / ".local/share",
                           "XDG_RUNTIME_DIR=" + m_home / "run", "DISPLAY=:" + display,
                           "GSETTINGS_BACKEND=keyfile", "GSETTINGS_SCHEMA_DIR=" + schemas.string(),
                           "gjs", (ext / "service/daemon.js").string()})),
        m_home / "daemon.log");
  }
  ~GsConnect() {
    testing::EndChild(m_daemon, std::chrono::seconds(5));
    testing::EndChild(m_xvfb, std::chrono::seconds(5));
  }

  bool Ok() const { return m_bus.Ok() && m_daemon > 0; }
  const SessionBus& Bus() const { return m_bus; }
  std::string Objects() const {
    return m_bus.Call(m_ns, "org.gnome.Shell.Extensions.GSConnect",
                      "/org/gnome/Shell/Extensions/GSConnect",
                      "org.freedesktop.DBus.ObjectManager.GetManagedObjects");
  }
  std::string Activate(const std::string& device, const std::string& action) const {
    return m_bus.Call(m_ns, "org.gnome.Shell.Extensions.GSConnect",
                      "/org/gnome/Shell/Extensions/GSConnect/Device/" + device,
                      "org.gtk.Actions.Activate", {action, "[]", "{}"});
  }
  std::string Log() const { return ReadFile(m_home / "daemon.log"); }

 private:
  std::string m_ns;
  std::error_code m_ec;  // a missing schema shows as the daemon not starting
  TempDir m_home;
  SessionBus m_bus;
  pid_t m_xvfb = -1, m_daemon = -1;
};

TEST(ServicePhones, GsConnectHandsTheRingtoneToThePairedPhone) {
  if (!fs::exists(kKdeConnectd)) GTEST_SKIP() << "kdeconnect (the phone) is not installed";
  if (!fs::exists(GsConnect::Extension() + "/service/daemon.js") ||
      RunTool({"gjs", "--version"}) != 0 || RunTool({"Xvfb", "-help"}) < 0)
    GTEST_SKIP() << "GSConnect's service (unpacked), gjs or Xvfb is missing";
  NetnsPair net("1mbit");
  if (!net.Ok()) GTEST_SKIP() << net.Why();
  const std::string phoneId = "zbtestphone" + std::to_string(::getpid());
  const std::string deskId = "zbtestgsdesk" + std::to_string(::getpid());
  KdeConnect phone(net, net.Phone(), phoneId, true);
  ASSERT_TRUE(phone.Ok());
  ASSERT_TRUE(Eventually([&] { return !phone.Devices(false).empty(); }, 30)) << phone.Log();
  GsConnect desktop(net, net.Desktop(), deskId);
  ASSERT_TRUE(desktop.Ok());
  // The phone announces itself again until GSConnect has seen it.
  ASSERT_TRUE(Eventually(
      [&] {
        if (desktop.Objects().find(phoneId) != std::string::npos) return true;
        phone.Call("/modules/kdeconnect", "org.kde.kdeconnect.daemon.forceOnNetworkChange");
        std::this_thread::sleep_for(std::chrono::seconds(1));
        return false;
      },
      60))
      << desktop.Log() << phone.Log();
  desktop.Activate(phoneId, "pair");
  const std::string onPhone = "/modules/kdeconnect/devices/" + deskId;
  ASSERT_TRUE(Eventually(
      [&] {
        return phone.Call(onPhone, "org.kde.kdeconnect.device.hasPairingRequests").find("true") !=
               std::string::npos;
      },
      30));
  phone.Call(onPhone, "org.kde.kdeconnect.device.acceptPairing");
  ASSERT_TRUE(Eventually(
      [&] { return desktop.Objects().find("'Paired': <true>") != std::string::npos; }, 30));

  TempDir dir;
  SocketService service(dir / "s.sock", dir / "data", {}, net.InDesktop(desktop.Bus().With({})));
  ASSERT_TRUE(service.Ok()) << service.Log();
  EXPECT_EQ(service.Get("/cgi-bin/zbl_devices.cgi").body,
            "[{\"id\": \"" + phoneId + "\", \"name\": \"Test Phone\", \"via\": \"gsconnect\"}]");
  ASSERT_EQ(RunTool({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=d=12", "-c:a",
                     "libmp3lame", "-b:a", "128k", "-y", dir / "tone.mp3"}),
            0);
  const std::string tone = ReadFile(dir / "tone.mp3");
  const std::string sid = service.OpenSession();
  ASSERT_EQ(service.Post("/cgi-bin/zbl_upload2.cgi?sid=" + sid, tone).status, 200);
  HttpAnswer push = service.Get("/cgi-bin/zbl_push.cgi?sid=" + sid + "&device=" + phoneId);
  EXPECT_EQ(push.body, "{\"ok\": true}");
  const fs::path downloads = fs::path(phone.Home()) / "Downloads";
  EXPECT_TRUE(Eventually(
      [&] {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(downloads, ec))
          if (e.path().extension() == ".mp3" && ReadFile(e.path()) == tone) return true;
        return false;
      },
      90))
      << desktop.Log();
}

}  // namespace
}  // namespace zb
