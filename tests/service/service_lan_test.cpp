// The share on a real home network interface: the service in a "desktop"
// network namespace whose only interface is `lan0`, a phone in another,
// joined by a veth pair (no traffic on the machine's own interfaces). Needs
// root; skipped otherwise.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>

#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <thread>

#include "netns.h"
#include "service_json.h"
#include "socket_service.h"
#include "temp_dir.h"

namespace zb {
namespace {

using testing::HttpAnswer;
using testing::JsonField;
using testing::NetnsPair;
using testing::SocketService;
using testing::TempDir;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

TEST(ServiceLan, APhoneOnTheHomeNetworkGetsTheShareAndNothingElse) {
  NetnsPair net;
  if (!net.Ok()) GTEST_SKIP() << net.Why();
  TempDir dir;
  const std::string mp3 = dir / "tone.mp3";
  ASSERT_EQ(net.Run("", {"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=d=44", "-c:a",
                         "libmp3lame", "-y", mp3}),
            0);
  const std::string tone = ReadFile(mp3);
  // No address given: the service finds lan0's.
  SocketService service(dir / "s.sock", dir / "data", {}, net.InDesktop({}));
  ASSERT_TRUE(service.Ok()) << service.Log();
  const std::string sid = service.OpenSession();
  ASSERT_EQ(service.Post("/cgi-bin/zbl_upload2.cgi?sid=" + sid, tone).status, 200);
  HttpAnswer a = service.Get("/cgi-bin/zbl_share.cgi?sid=" + sid);
  ASSERT_EQ(a.status, 200) << a.body << service.Log();
  const std::string url = JsonField(a.body, "url");
  ASSERT_EQ(url.rfind("http://" + net.DesktopAddress() + ":", 0), 0u) << url;

  auto fetch = [&](const std::string& u, const std::string& to, const std::string& post = "") {
    std::vector<std::string> argv = {"curl", "-s", "--max-time",   "20", "-o",
                                     to,     "-w", "%{http_code}", u};
    if (!post.empty()) argv.insert(argv.end(), {"--data-binary", "@" + post});
    std::string code;
    net.Run(net.Phone(), argv, &code);
    return code;
  };
  EXPECT_EQ(fetch(url, dir / "page.html"), "200");
  EXPECT_NE(ReadFile(dir / "page.html").find("iPhone (M4R)"), std::string::npos);
  EXPECT_EQ(fetch(url + "/ringtone.mp3", dir / "got.mp3"), "200");
  EXPECT_TRUE(ReadFile(dir / "got.mp3") == tone) << "the MP3 differs";
  EXPECT_EQ(fetch(url + "/ringtone.m4r", dir / "got.m4r"), "200");
  std::string probe;
  net.Run(
      "",
      {"ffprobe", "-v", "error", "-show_entries", "format=format_name,duration:stream=codec_name",
       "-of", "default=noprint_wrappers=1", dir / "got.m4r"},
      &probe);
  EXPECT_NE(probe.find("codec_name=aac"), std::string::npos) << probe;
  EXPECT_NE(probe.find("format_name=mov,mp4,m4a,3gp,3g2,mj2"), std::string::npos) << probe;
  EXPECT_NEAR(std::atof(probe.c_str() + probe.find("duration=") + 9), 40.0, 0.1) << probe;

  std::string wrong = url;
  wrong[wrong.size() - 5] = wrong[wrong.size() - 5] == 'a' ? 'b' : 'a';
  EXPECT_EQ(fetch(wrong + "/ringtone.mp3", "/dev/null"), "404");
  const std::string base = url.substr(0, url.find("/s/"));
  for (const std::string& p :
       {std::string("/cgi-bin/zbl_session.cgi?name=A&phone=07700900123&network=V"),
        std::string("/phone/07700900123"), std::string("/cgi-bin/zbl_share.cgi?sid=") + sid})
    EXPECT_EQ(fetch(base + p, "/dev/null"), "404") << p;
  // An upload is refused (no body is read on this side) and nothing stored.
  const std::string upload = fetch(base + "/cgi-bin/zbl_upload2.cgi?sid=" + sid, "/dev/null", mp3);
  EXPECT_TRUE(upload == "404" || upload == "413") << upload;
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "data/phones/07700900123"),
                          std::filesystem::directory_iterator()),
            1);
  // The browser's port is on the desktop's loopback only.
  EXPECT_EQ(fetch("http://" + net.DesktopAddress() + ":" + std::to_string(service.BrowserPort()) +
                      "/phone/07700900123",
                  "/dev/null"),
            "000");

  // 64 idle connections from the phone, 20 ms apart, while the program
  // uploads through its socket: the uploads go on.
  const int port = std::atoi(url.c_str() + url.rfind(':') + 1);
  std::vector<int> idle;
  std::thread phone([&] {
    int ns = ::open(("/var/run/netns/" + net.Phone()).c_str(), O_RDONLY | O_CLOEXEC);
    if (ns < 0 || ::setns(ns, CLONE_NEWNET) != 0) return;  // this thread only
    ::close(ns);
    for (int i = 0; i < 64; ++i) {
      int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_port = htons(static_cast<uint16_t>(port));
      ::inet_pton(AF_INET, net.DesktopAddress().c_str(), &to.sin_addr);
      if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0)
        idle.push_back(fd);
      else
        ::close(fd);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  for (int i = 0; i < 5; ++i) {
    const std::string s = service.OpenSession();
    EXPECT_EQ(service.Post("/cgi-bin/zbl_upload2.cgi?sid=" + s, std::string(1 << 20, 'r')).status,
              200);
  }
  phone.join();
  EXPECT_EQ(idle.size(), 64u);
  for (int fd : idle) ::close(fd);
}

}  // namespace
}  // namespace zb
