// The share on the home network, with the service on its own: the answer of
// zbl_share.cgi, its QR code, the page and its two files, the link's end,
// and a listener that serves nothing else and cannot be flooded. Here the
// "home network" is a loopback address given with --lan-address; the test
// in network namespaces (service_lan_test) runs it on a real interface.
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "service/lan_share.h"
#include "service/qr_code.h"
#include "service/service_routes.h"
#include "service_json.h"
#include "socket_service.h"
#include "temp_dir.h"

namespace zb {
namespace {

namespace fs = std::filesystem;
using testing::HttpAnswer;
using testing::JsonField;
using testing::SocketService;
using testing::TempDir;

bool OnPath(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// Output of a shell command line made of fixed words and test paths.
std::string Capture(const std::string& cmd) {
  std::string out;
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    char buf[4096];
    while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

// A tone of `seconds` as MP3.
std::string MakeTone(const TempDir& dir, int seconds) {
  const std::string path = dir / ("tone" + std::to_string(seconds) + ".mp3");
  std::string cmd = "ffmpeg -v error -f lavfi -i sine=f=440:d=" + std::to_string(seconds) +
                    " -c:a libmp3lame -b:a 128k -y " + path;
  return std::system(cmd.c_str()) == 0 ? ReadFile(path) : "";
}

struct Url {
  std::string host, path;
  int port = 0;
};
Url Split(const std::string& url) {
  Url u;
  size_t hostAt = url.find("://") + 3, colon = url.find(':', hostAt), slash = url.find('/', hostAt);
  u.host = url.substr(hostAt, colon - hostAt);
  u.port = std::atoi(url.c_str() + colon + 1);
  u.path = url.substr(slash);
  return u;
}

class ShareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!OnPath("ffmpeg") || !OnPath("ffprobe")) GTEST_SKIP() << "ffmpeg is missing";
  }
  // A service offering links on 127.0.0.2, with a session that has
  // delivered `tone`.
  void Start(const std::string& tone, std::vector<std::string> options = {}) {
    options.insert(options.end(), {"--lan-address", "127.0.0.2", "--lan-port", "0"});
    m_service = std::make_unique<SocketService>(m_dir / "s.sock", m_dir / "data", options);
    ASSERT_TRUE(m_service->Ok()) << m_service->Log();
    m_sid = m_service->OpenSession();
    ASSERT_EQ(m_service->Post("/cgi-bin/zbl_upload2.cgi?sid=" + m_sid, tone).status, 200);
  }
  TempDir m_dir;
  std::unique_ptr<SocketService> m_service;
  std::string m_sid;
};

TEST_F(ShareTest, TheLinkGivesThePageAndBothRingtonesAndNothingElse) {
  const std::string tone = MakeTone(m_dir, 45);
  ASSERT_FALSE(tone.empty());
  m_service = std::make_unique<SocketService>(
      m_dir / "s.sock", m_dir / "data",
      std::vector<std::string>{"--lan-address", "127.0.0.2", "--lan-port", "0"});
  ASSERT_TRUE(m_service->Ok()) << m_service->Log();
  m_sid = m_service->OpenSession();
  // Nothing delivered yet: 404 with a sentence.
  HttpAnswer none = m_service->Get("/cgi-bin/zbl_share.cgi?sid=" + m_sid);
  EXPECT_EQ(none.status, 404);
  EXPECT_FALSE(JsonField(none.body, "error").empty()) << none.body;
  ASSERT_EQ(m_service->Post("/cgi-bin/zbl_upload2.cgi?sid=" + m_sid, tone).status, 200);

  HttpAnswer a = m_service->Get("/cgi-bin/zbl_share.cgi?sid=" + m_sid);
  ASSERT_EQ(a.status, 200) << a.body;
  EXPECT_NE(a.head.find("application/json"), std::string::npos);
  const std::string url = JsonField(a.body, "url");
  const long expires = std::atol(JsonField(a.body, "expires").c_str());
  EXPECT_GT(expires, 800);
  EXPECT_LE(expires, 900);
  ASSERT_EQ(url.rfind("http://127.0.0.2:", 0), 0u) << url;
  const std::string token = url.substr(url.rfind('/') + 1);
  EXPECT_GE(token.size(), 32u);  // 128 bits at least
  // Asked again: the same link.
  EXPECT_EQ(JsonField(m_service->Get("/cgi-bin/zbl_share.cgi?sid=" + m_sid).body, "url"), url);

  // The QR code holds exactly the link.
  const std::string svg = JsonField(a.body, "qrSvg");
  EXPECT_EQ(svg.rfind("<svg xmlns=\"http://www.w3.org/2000/svg\"", 0), 0u);
  if (OnPath("rsvg-convert") && OnPath("zbarimg")) {
    std::ofstream(m_dir / "qr.svg") << svg;
    EXPECT_EQ(Capture("rsvg-convert " + m_dir / "qr.svg" + " -o " + m_dir / "qr.png" +
                      " && zbarimg -q --raw " + m_dir / "qr.png" + " 2>/dev/null"),
              url + "\n");
  }

  const Url u = Split(url);
  httplib::Client phone(u.host, u.port);
  auto page = phone.Get(u.path);
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("Android (MP3)"), std::string::npos);
  EXPECT_NE(page->body.find("iPhone (M4R)"), std::string::npos);
  EXPECT_EQ(page->body.find("<script"), std::string::npos);
  EXPECT_NE(page->get_header_value("Content-Security-Policy").find("default-src 'none'"),
            std::string::npos);
  auto mp3 = phone.Get(u.path + "/ringtone.mp3");
  ASSERT_TRUE(mp3);
  EXPECT_EQ(mp3->status, 200);
  EXPECT_TRUE(mp3->body == tone) << "the MP3 differs from the one delivered";
  auto m4r = phone.Get(u.path + "/ringtone.m4r");
  ASSERT_TRUE(m4r);
  ASSERT_EQ(m4r->status, 200);
  std::ofstream(m_dir / "got.m4r", std::ios::binary) << m4r->body;
  const std::string probe = Capture(
      "ffprobe -v error -show_entries format=format_name,duration:stream=codec_name -of "
      "default=noprint_wrappers=1 " +
      m_dir / "got.m4r");
  EXPECT_NE(probe.find("codec_name=aac"), std::string::npos) << probe;
  EXPECT_NE(probe.find("format_name=mov,mp4,m4a,3gp,3g2,mj2"), std::string::npos) << probe;
  const double seconds = std::atof(probe.c_str() + probe.find("duration=") + 9);
  EXPECT_NEAR(seconds, 40.0, 0.1) << probe;  // cut to the iPhone's 40 s

  // One character of the token changed: nothing.
  std::string wrong = u.path;
  wrong.back() = wrong.back() == '0' ? '1' : '0';
  for (const std::string& p : {wrong, wrong + "/ringtone.mp3", wrong + "/ringtone.m4r"}) {
    auto r = phone.Get(p);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 404) << p;
  }
  // Sessions, uploads, phone pages and the program's addresses are not on
  // the network's side.
  for (const std::string& p : std::vector<std::string>{
           "/cgi-bin/zbl_session.cgi?name=A&phone=07700900123&network=V", "/phone/07700900123", "/",
           "/redir.php?where=homepage", "/cgi-bin/zbl_share.cgi?sid=" + m_sid,
           "/cgi-bin/zbl_devices.cgi", "/cgi-bin/zbl_browser.cgi"}) {
    auto r = phone.Get(p);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 404) << p;
  }
  auto up = phone.Post("/cgi-bin/zbl_upload2.cgi?sid=" + m_sid, tone, "audio/mpeg");
  EXPECT_TRUE(!up || up->status == 404 || up->status == 413);
}

TEST_F(ShareTest, AShortRingtoneKeepsItsLengthAndTheLinkEndsWithItsLifetime) {
  const std::string tone = MakeTone(m_dir, 5);
  ASSERT_FALSE(tone.empty());
  Start(tone, {"--share-lifetime", "2"});
  HttpAnswer a = m_service->Get("/cgi-bin/zbl_share.cgi?sid=" + m_sid);
  ASSERT_EQ(a.status, 200) << a.body;
  const Url u = Split(JsonField(a.body, "url"));
  httplib::Client phone(u.host, u.port);
  auto m4r = phone.Get(u.path + "/ringtone.m4r");
  ASSERT_TRUE(m4r);
  std::ofstream(m_dir / "short.m4r", std::ios::binary) << m4r->body;
  const std::string probe = Capture(
      "ffprobe -v error -show_entries format=duration -of "
      "default=noprint_wrappers=1:nokey=1 " +
      m_dir / "short.m4r");
  EXPECT_NEAR(std::atof(probe.c_str()), 5.0, 0.2) << probe;

  // Once its time is up the link answers 404, then nothing listens there.
  int status = 200;
  for (int i = 0; i < 200 && status == 200; ++i) {
    auto r = phone.Get(u.path + "/ringtone.mp3");
    status = r ? r->status : -1;
    if (status == 200) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_NE(status, 200);
  bool closed = false;
  for (int i = 0; i < 200 && !closed; ++i) {
    closed = !httplib::Client(u.host, u.port).Get(u.path);
    if (!closed) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(closed) << "the network listener still runs with no live share";
  // A new share gets a new link.
  HttpAnswer again = m_service->Get("/cgi-bin/zbl_share.cgi?sid=" + m_sid);
  ASSERT_EQ(again.status, 200);
  EXPECT_NE(JsonField(again.body, "url"), JsonField(a.body, "url"));
}

TEST_F(ShareTest, NoUsableAddressIs503) {
  const std::string tone = MakeTone(m_dir, 1);
  // An address of a documentation network, not on this machine: nothing
  // can listen there.
  m_service = std::make_unique<SocketService>(
      m_dir / "s.sock", m_dir / "data",
      std::vector<std::string>{"--lan-address", "192.0.2.77", "--lan-port", "0"});
  ASSERT_TRUE(m_service->Ok()) << m_service->Log();
  m_sid = m_service->OpenSession();
  ASSERT_EQ(m_service->Post("/cgi-bin/zbl_upload2.cgi?sid=" + m_sid, tone).status, 200);
  HttpAnswer a = m_service->Get("/cgi-bin/zbl_share.cgi?sid=" + m_sid);
  EXPECT_EQ(a.status, 503);
  EXPECT_FALSE(JsonField(a.body, "error").empty()) << a.body;
}

// 64 idle connections opened from one client of the network: it holds only
// a few, and the program's requests on its socket go on meanwhile.
TEST_F(ShareTest, AFloodFromTheNetworkDoesNotStallTheProgram) {
  const std::string tone = MakeTone(m_dir, 2);
  Start(tone);
  const Url u = Split(JsonField(m_service->Get("/cgi-bin/zbl_share.cgi?sid=" + m_sid).body, "url"));
  // Opened 20 ms apart while the program works.
  std::vector<int> idle;
  std::thread flood([&] {
    for (int i = 0; i < 64; ++i) {
      int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<uint16_t>(u.port));
      a.sin_addr.s_addr = htonl(0x7f000002);
      if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
        idle.push_back(fd);
      else
        ::close(fd);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  // The program delivers and shares meanwhile.
  for (int i = 0; i < 5; ++i) {
    std::string s = m_service->OpenSession();
    ASSERT_EQ(s.size(), 32u);
    EXPECT_EQ(
        m_service->Post("/cgi-bin/zbl_upload2.cgi?sid=" + s, std::string(1 << 20, 'r')).status,
        200);
    EXPECT_EQ(m_service->Get("/cgi-bin/zbl_share.cgi?sid=" + s).status, 200);
  }
  flood.join();
  ASSERT_EQ(idle.size(), 64u);
  // All but a few were turned away at once ("busy" and closed).
  int turnedAway = 0;
  for (int round = 0; round < 250 && turnedAway < 60; ++round) {
    turnedAway = 0;
    for (int fd : idle) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 0) > 0) ++turnedAway;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_GE(turnedAway, 60);
  for (int fd : idle) ::close(fd);
}

TEST(ShareParts, AddressesQrCodesAndJson) {
  // Virtual networks are never the home network.
  for (const char* name : {"docker0", "br-1a2b", "veth12", "virbr0", "tun0", "tap3", "wg0", "zt5"})
    EXPECT_TRUE(service::IsVirtualInterface(name)) << name;
  for (const char* name : {"eth0", "enp3s0", "wlan0", "wlp2s0", "lan0"})
    EXPECT_FALSE(service::IsVirtualInterface(name)) << name;
  // Whatever it chooses is neither loopback nor link-local.
  const std::string chosen = service::ChooseLanAddress();
  EXPECT_NE(chosen.rfind("127.", 0), 0u);
  EXPECT_NE(chosen.rfind("169.254.", 0), 0u);
  EXPECT_NE(chosen.rfind("fe80:", 0), 0u);
  EXPECT_NE(chosen, "::1");

  EXPECT_EQ(service::QrSvg(std::string(8000, 'x')), "");  // too long for any QR code
  EXPECT_EQ(service::JsonString("a\"b\\c\n\x01<"), "\"a\\\"b\\\\c\\n\\u0001<\"");
}

}  // namespace
}  // namespace zb
