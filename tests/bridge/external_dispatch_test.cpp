#include "bridge/external_dispatch.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "bridge/method_table.h"
#include "core/core_host.h"
#include "jobs/job_state.h"
#include "page_host.h"
#include "platform/utf.h"
#include "temp_dir.h"

namespace zb {
namespace {

using zb::testing::ScopedEnv;
using zb::testing::TempDir;

// The window operations record their arguments; everything else is the real
// display-free core. A page dialog's page hands back "ret:" and its argument.
class RecordingFrontEnd : public FrontEnd {
 public:
  CoreHost* core = nullptr;
  std::vector<std::string> calls;
  void CloseActiveWindow() override { calls.push_back("close"); }
  void ShowPageDialog(const std::string& t, const std::string& u, const std::string& a, int l,
                      int tp, int w, int h) override {
    calls.push_back("dialog|" + t + "|" + u + "|" + a + "|" + std::to_string(l) + "|" +
                    std::to_string(tp) + "|" + std::to_string(w) + "|" + std::to_string(h));
    core->SetDialogResult("ret:" + core->GetDialogArgument());
  }
  void ShowAboutBox() override { calls.push_back("about"); }
  void ShowContact() override { calls.push_back("contact"); }
  void ShowCompatibility() override { calls.push_back("compat"); }
  void ShowUsage() override { calls.push_back("usage"); }
  void OpenRedirect(const std::string& w) override { calls.push_back("redirect|" + w); }
  int32_t MessageBox(const std::string& text, int32_t type) override {
    calls.push_back("box|" + text + "|" + std::to_string(type));
    return type == 4 ? 6 : 1;
  }
  std::string SelectMediaFile() override { return "/music/a.mp3"; }
};

class DispatchTest : public ::testing::Test {
 protected:
  TempDir m_dir;
  ScopedEnv m_env{"ZIMBREL_REGISTRY_DIR", m_dir.Path()};
  RecordingFrontEnd m_frontEnd;
  CoreHost m_host{m_dir.Path(), m_frontEnd};
  CExternalDispatch m_disp{[this]() -> CoreHost* { return &m_host; }};
  void SetUp() override { m_frontEnd.core = &m_host; }

  DISPID Id(const std::u16string& name) {
    OLECHAR* names[] = {const_cast<OLECHAR*>(name.c_str())};
    DISPID id = 12345;
    m_disp.GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    return id;
  }
  // Invokes by name with script-order arguments.
  VARIANT Call(const std::u16string& name, WORD flags, std::vector<VARIANT> scriptArgs = {}) {
    DISPID id = Id(name);
    EXPECT_NE(id, DISPID_UNKNOWN) << Utf16ToUtf8(name);
    return Call(id, flags, std::move(scriptArgs));
  }
  // Invokes with script-order arguments.
  VARIANT Call(DISPID id, WORD flags, std::vector<VARIANT> scriptArgs = {}) {
    VARIANT r = testing::InvokeMember(m_disp, id, flags, std::move(scriptArgs));
    m_results.push_back(r);  // freed when the test ends
    return r;
  }
  // Members that start a job (the analysis among them) leave a thread behind;
  // it is ended and waited for, so that none outlives the test's core.
  void TearDown() override {
    for (auto& r : m_results) VariantClear(&r);
    m_host.CancelRunningJob();
    EXPECT_TRUE(jobs::WaitForJobThreadsForTesting(20000));
  }
  std::vector<VARIANT> m_results;
  static VARIANT Str(const std::string& s) { return testing::StrArg(s); }
  static VARIANT Int(int32_t i) { return testing::IntArg(i); }
  static VARIANT Dbl(double d) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = d;
    return v;
  }
  static std::string S(VARIANT v) {
    EXPECT_EQ(v.vt, VT_BSTR);
    return testing::StringOf(v);
  }
};

TEST_F(DispatchTest, NamesResolveCaseSensitivelyAndAllOfThemAreTried) {
  EXPECT_EQ(Id(u"ZBL_IsZBL"), 1);
  EXPECT_EQ(Id(u"zbl_iszbl"), DISPID_UNKNOWN);
  EXPECT_EQ(Id(u"ZBL_norStatus"), 38);
  std::u16string a = u"ZBL_GetVersion", b = u"Nope", c = u"ZBL_tsStatus";
  OLECHAR* names[] = {a.data(), b.data(), c.data()};
  DISPID ids[3] = {0, 0, 0};
  EXPECT_EQ(m_disp.GetIDsOfNames(IID_NULL, names, 3, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 14);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
  EXPECT_EQ(ids[2], 27);
  DISPID untouched = 77;
  EXPECT_EQ(m_disp.GetIDsOfNames(IID_NULL, nullptr, 0, 0, &untouched), S_OK);
  EXPECT_EQ(untouched, 77);
  // The pages' 38 members keep their places; the analysis members follow.
  ASSERT_EQ(kMethodTable.size(), 41u);
  EXPECT_EQ(Id(u"ZBL_AnalyzeMedia"), 39);
  EXPECT_EQ(Id(u"ZBL_anResult"), 41);
}

TEST_F(DispatchTest, IUnknownAndTypeInfoRules) {
  void* p = reinterpret_cast<void*>(1);
  GUID other{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  EXPECT_EQ(m_disp.QueryInterface(other, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(m_disp.QueryInterface(IID_IDispatch, &p), S_OK);
  EXPECT_EQ(p, static_cast<IDispatch*>(&m_disp));
  EXPECT_EQ(m_disp.Release(), 0u);
  EXPECT_EQ(m_disp.Release(), static_cast<ULONG>(-1));  // never deletes itself
  m_disp.AddRef();
  UINT count = 99;
  EXPECT_EQ(m_disp.GetTypeInfoCount(&count), E_NOTIMPL);
  EXPECT_EQ(count, 99u);
  EXPECT_EQ(S(Call(14, DISPATCH_METHOD)), "260");  // still answers at count 0
}

TEST_F(DispatchTest, KindChecksLeaveTheResultUntouched) {
  VARIANT r = Call(27, DISPATCH_METHOD);  // a property called as a method
  EXPECT_EQ(r.vt, VT_EMPTY);
  r = Call(27, DISPATCH_PROPERTYGET);
  EXPECT_EQ(r.vt, VT_INT);
  EXPECT_EQ(r.intVal, 0);
  r = Call(27, DISPATCH_PROPERTYGET | DISPATCH_METHOD);
  EXPECT_EQ(r.vt, VT_INT);
  r = Call(14, DISPATCH_PROPERTYGET);  // a method read as a property
  EXPECT_EQ(r.vt, VT_EMPTY);
  for (DISPID id : {0, kMemberCount + 1, -1}) {
    VARIANT keep;
    VariantInit(&keep);
    keep.vt = VT_I4;
    keep.lVal = 5;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(m_disp.Invoke(id, IID_NULL, 0, 3, &none, &keep, nullptr, nullptr), S_OK);
    EXPECT_EQ(keep.vt, VT_I4);
  }
  for (WORD flags : {DISPATCH_PROPERTYGET, DISPATCH_METHOD}) {
    r = Call(1, flags);
    EXPECT_EQ(r.vt, VT_BOOL);
    EXPECT_EQ(r.boolVal, VARIANT_TRUE);
  }
  // A property read without a result VARIANT does nothing.
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(m_disp.Invoke(33, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, nullptr, nullptr, nullptr),
            S_OK);
}

TEST_F(DispatchTest, ArgumentsArriveInScriptOrderAndAreConvertedSafely) {
  Call(u"ZBL_ShowModalDialog", DISPATCH_METHOD,
       {Str("T"), Str("u.html"), Str("arg"), Int(1), Int(2), Int(300), Int(200)});
  ASSERT_EQ(m_frontEnd.calls.size(), 1u);
  EXPECT_EQ(m_frontEnd.calls[0], "dialog|T|u.html|arg|1|2|300|200");
  m_frontEnd.calls.clear();
  // Too few arguments: missing strings are "", missing integers 0.
  VARIANT r = Call(u"ZBL_ShowModalDialog", DISPATCH_METHOD, {Str("only")});
  EXPECT_EQ(S(r), "ret:");
  EXPECT_EQ(m_frontEnd.calls[0], "dialog|only|||0|0|0|0");
  m_frontEnd.calls.clear();
  // Wrong types: numbers become text, text becomes a number, fractions are cut.
  Call(u"ZBL_ShowModalDialog", DISPATCH_METHOD,
       {Int(42), Dbl(2.5), Str("x"), Str("  -17abc"), Dbl(-3.9), Str("zz"), Dbl(1e12)});
  EXPECT_EQ(m_frontEnd.calls[0], "dialog|42|2.5|x|-17|-3|0|2147483647");
  r = Call(u"ZBL_MessageBox", DISPATCH_METHOD, {Str("Yes or no?"), Int(4)});
  EXPECT_EQ(r.vt, VT_INT);
  EXPECT_EQ(r.intVal, 6);
}

TEST_F(DispatchTest, ProfileMembersUseTheStoreAndItsDefaults) {
  EXPECT_EQ(S(Call(u"ZBL_GetZBName", DISPATCH_METHOD)), "");
  EXPECT_EQ(S(Call(u"ZBL_GetZBAid", DISPATCH_METHOD)), "2");
  EXPECT_EQ(S(Call(u"ZBL_GetZBNVCheck", DISPATCH_METHOD)), "0");
  Call(u"ZBL_SetZBName", DISPATCH_METHOD, {Str("Ana \xC3\xA9")});
  EXPECT_EQ(S(Call(u"ZBL_GetZBName", DISPATCH_METHOD)), "Ana \xC3\xA9");
  Call(u"ZBL_SetZBAid", DISPATCH_METHOD, {Str("")});
  EXPECT_EQ(S(Call(u"ZBL_GetZBAid", DISPATCH_METHOD)), "2");
  Call(u"ZBL_SetZBPhone", DISPATCH_METHOD, {Str("")});
  EXPECT_EQ(S(Call(u"ZBL_GetZBPhone", DISPATCH_METHOD)), "");
  std::ifstream f(m_dir / "HKEY_CURRENT_USER/Software/Zimbrel/ZBAid", std::ios::binary);
  std::string bytes(std::istreambuf_iterator<char>(f), {});
  EXPECT_EQ(bytes, std::string("\x03\0\0\0"
                               "2",
                               5));
}

TEST_F(DispatchTest, CommandLineFileIsHandedOutOnceAndDialogValueIsShared) {
  m_host.SetCommandLineFile("/home/u/My Music/a b.mp3");
  EXPECT_EQ(S(Call(u"ZBL_clFileName", DISPATCH_PROPERTYGET)), "/home/u/My Music/a b.mp3");
  EXPECT_EQ(S(Call(u"ZBL_clFileName", DISPATCH_PROPERTYGET)), "");
  Call(u"ZBL_SetDialogRetValue", DISPATCH_METHOD, {Str("v1")});
  EXPECT_EQ(S(Call(u"ZBL_GetDialogArgument", DISPATCH_METHOD)), "v1");
  VARIANT r = Call(u"ZBL_BreakAsyncOperation", DISPATCH_METHOD);
  EXPECT_EQ(r.vt, VT_BOOL);
  EXPECT_TRUE(m_host.Jobs()->CancelRequested());
}

// Every member's result has the type its entry lists, also when it is called
// with none of its arguments (each listed argument then reads as "" or 0).
// The job starters, which the job tests cover, start nothing here.
TEST_F(DispatchTest, EveryMemberAnswersWithItsListedResultType) {
  for (const Member& m : kMethodTable) {
    std::u16string name = Utf8ToUtf16(m.name);
    if (m.name == "ZBL_MakeHttpRequest" || m.name == "ZBL_TranscodeMedia" ||
        m.name == "ZBL_UploadFile" || m.name == "ZBL_GrabAudioDataFromCD" ||
        m.name == "ZBL_NormalizeAudio")
      continue;
    WORD flags = m.kind == MemberKind::kProperty ? DISPATCH_PROPERTYGET : DISPATCH_METHOD;
    VARIANT r = Call(name, flags);
    VARTYPE want = VT_EMPTY;
    switch (m.result) {
      case ResultType::kNone:
        want = VT_EMPTY;
        break;
      case ResultType::kBool:
        want = VT_BOOL;
        break;
      case ResultType::kInteger:
        want = VT_INT;
        break;
      case ResultType::kString:
        want = VT_BSTR;
        break;
    }
    EXPECT_EQ(r.vt, want) << m.name;
  }
  EXPECT_EQ(m_frontEnd.calls.front(), "close");
}

}  // namespace
}  // namespace zb
