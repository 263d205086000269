// A page's whole exchange with the service, made through window.external's
// members on the display-free main window: open a session with a GET, upload
// the ringtone, then read the phone's page.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "bridge/external_dispatch.h"
#include "core/core_host.h"
#include "page_host.h"
#include "service_process.h"
#include "temp_dir.h"

namespace zb {
namespace {

using zb::testing::CallMember;
using zb::testing::ScopedEnv;
using zb::testing::ServiceProcess;
using zb::testing::StrArg;
using zb::testing::TakeString;
using zb::testing::TempDir;

class ScriptedUploadTest : public ::testing::Test {
 protected:
  ~ScriptedUploadTest() override { EXPECT_TRUE(jobs::WaitForJobThreadsForTesting(20000)); }

  VARIANT Call(const std::u16string& name, WORD flags, const std::vector<std::string>& args = {}) {
    std::vector<VARIANT> strings;
    for (const std::string& a : args) strings.push_back(StrArg(a));
    return CallMember(m_disp, name, flags, std::move(strings));
  }
  bool Method(const std::u16string& name, const std::vector<std::string>& args) {
    VARIANT r = Call(name, DISPATCH_METHOD, args);
    return r.vt == VT_BOOL && r.boolVal == VARIANT_TRUE;
  }
  int32_t Property(const std::u16string& name) {
    VARIANT r = Call(name, DISPATCH_PROPERTYGET);
    return r.vt == VT_INT ? r.intVal : (r.vt == VT_I4 ? r.lVal : -1);
  }
  std::string Text(const std::u16string& name) {
    return TakeString(Call(name, DISPATCH_PROPERTYGET));
  }
  // Polls a status property as a page does, until it reaches `final`.
  int32_t Poll(const std::u16string& name, int32_t final) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int32_t v = Property(name);
    while (v < final && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      v = Property(name);
    }
    return v;
  }
  std::string Fetch(const std::string& url) {
    EXPECT_TRUE(Method(u"ZBL_MakeHttpRequest", {url}));
    EXPECT_EQ(Poll(u"ZBL_xhStatus", 1), 1);
    return Text(u"ZBL_xhResponse");
  }

  TempDir m_dir;
  TempDir m_data;
  ServiceProcess m_service{m_data.Path()};
  ScopedEnv m_registry{"ZIMBREL_REGISTRY_DIR", m_dir.Path()};
  ScopedEnv m_host{"ZIMBREL_SERVICE_HOST", m_service.Authority()};
  CoreHost m_window{m_dir.Path(), zb::testing::Quiet()};
  CExternalDispatch m_disp{[this]() -> CoreHost* { return &m_window; }};
};

TEST_F(ScriptedUploadTest, PageUploadsARingtoneThatTheServiceDelivers) {
  ASSERT_GT(m_service.Port(), 0) << m_service.FirstLine();
  std::string tone(123457, '\0');
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<char>(i * 31 + (i >> 9));
  std::string file = m_dir / "my tone.mp3";
  std::ofstream(file, std::ios::binary) << tone;

  std::string session = Fetch("/cgi-bin/zbl_session.cgi?name=Zo\xC3\xAB&phone=555 0142&network=V");
  ASSERT_EQ(session.rfind("OK ", 0), 0u) << session;
  ASSERT_TRUE(Method(u"ZBL_UploadFile", {file, session.substr(3)}));
  EXPECT_EQ(Poll(u"ZBL_upStatus", 100), 100);

  std::filesystem::path phone = std::filesystem::path(m_data.Path()) / "phones" / "5550142";
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(phone)) files.push_back(e.path());
  ASSERT_EQ(files.size(), 1u);
  std::ifstream in(files[0], std::ios::binary);
  std::string stored((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(stored == tone) << "stored " << stored.size() << " bytes";

  std::string page = Fetch("/redir.php?ver=260&aff=2&where=phone:5550142");
  EXPECT_NE(page.find("<audio"), std::string::npos);
  EXPECT_NE(page.find(files[0].filename().string()), std::string::npos);
}

}  // namespace
}  // namespace zb
