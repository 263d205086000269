// Phones paired through KDE Connect: the list and the hand-over, with a real
// second KDE Connect daemon playing the phone in a network namespace of its
// own, each daemon with its own session bus and home. And the service never
// starts a phone daemon that is not running.
#include <gtest/gtest.h>

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
  ASSERT_TRUE(bus.ok());
  // Were either daemon started by D-Bus activation, it would leave a mark.
  bus.AddActivation("org.kde.kdeconnect", "/usr/bin/touch " + dir / "kdeconnect-started");
  bus.AddActivation("org.gnome.Shell.Extensions.GSConnect",
                    "/usr/bin/touch " + dir / "gsconnect-started");
  SocketService service(dir / "s.sock", dir / "data", {}, bus.With({}));
  ASSERT_TRUE(service.ok()) << service.Log();
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
      : ns_(ns), id_(id), bus_(ns) {
    const std::string config = home_ / ".config/kdeconnect";
    fs::create_directories(config);
    fs::create_directories(home_ / "run");
    fs::permissions(home_ / "run", fs::perms::owner_all);
    RunTool({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650", "-subj",
             "/O=KDE/OU=Kde connect/CN=" + id, "-keyout", config + "/privateKey.pem", "-out",
             config + "/certificate.pem"});
    std::ofstream(config + "/config")
        << "[General]\nname=" << (phone ? "Test Phone" : "Desktop") << "\n";
    std::vector<std::string> argv = net.In(
        ns,
        bus_.With({"env", "HOME=" + home_.path(), "XDG_CONFIG_HOME=" + home_ / ".config",
                   "XDG_DATA_HOME=" + home_ / ".local/share", "XDG_RUNTIME_DIR=" + home_ / "run",
                   "QT_QPA_PLATFORM=offscreen",
                   std::string("PLASMA_PLATFORM=") + (phone ? "phone" : "desktop"), kKdeConnectd}));
    pid_ = testing::SpawnLogged(argv, home_ / "daemon.log");
  }
  ~KdeConnect() { testing::EndChild(pid_, std::chrono::seconds(5)); }

  bool ok() const { return bus_.ok() && pid_ > 0; }
  const SessionBus& bus() const { return bus_; }
  std::string home() const { return home_.path(); }
  std::string Call(const std::string& path, const std::string& method,
                   const std::vector<std::string>& args = {}) const {
    return bus_.Call(ns_, "org.kde.kdeconnect", path, method, args);
  }
  std::string Devices(bool pairedAndReachable) const {
    const char* flag = pairedAndReachable ? "true" : "false";
    return Call("/modules/kdeconnect", "org.kde.kdeconnect.daemon.devices", {flag, flag});
  }
  std::string Log() const { return ReadFile(home_ / "daemon.log"); }

 private:
  std::string ns_, id_;
  TempDir home_;
  SessionBus bus_;
  pid_t pid_ = -1;
};

TEST(ServicePhones, KdeConnectHandsTheRingtoneToThePairedPhone) {
  if (!fs::exists(kKdeConnectd)) GTEST_SKIP() << "kdeconnect is not installed";
  if (RunTool({"openssl", "version"}) != 0) GTEST_SKIP() << "openssl is missing";
  // Small files arrive whole only on a slower link (KDE Connect 22.12).
  NetnsPair net("1mbit");
  if (!net.ok()) GTEST_SKIP() << net.why();
  const std::string phoneId = "zbtestphone" + std::to_string(::getpid());
  const std::string deskId = "zbtestdesk" + std::to_string(::getpid());
  KdeConnect phone(net, net.phone(), phoneId, true);  // the phone first
  ASSERT_TRUE(phone.ok());
  ASSERT_TRUE(Eventually([&] { return !phone.Devices(false).empty(); }, 30)) << phone.Log();
  KdeConnect desktop(net, net.desktop(), deskId, false);
  ASSERT_TRUE(desktop.ok());
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
  SocketService service(dir / "s.sock", dir / "data", {}, net.InDesktop(desktop.bus().With({})));
  ASSERT_TRUE(service.ok()) << service.Log();
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
  const fs::path downloads = fs::path(phone.home()) / "Downloads";
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

}  // namespace
}  // namespace zb
