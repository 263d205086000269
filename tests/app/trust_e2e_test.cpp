// Only the program's own pages reach window.external, and only the program's
// own web processes reach the bridge. Each way in is tried and found closed:
// first against the web process extension alone (a plain WebKit view in this
// process with the real extension and bridge, and no navigation policy),
// then against the real program, whose views go only where its pages are.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "app/app_harness.h"
#include "app/file_drag.h"
#include "app/mini_http_server.h"
#include "app/page_scheme.h"
#include "app/web_view_settings.h"
#include "bridge/bridge_server.h"
#include "bridge/bridge_wire.h"
#include "bridge/external_dispatch.h"
#include "bridge/program_pages.h"
#include "net/raw_server.h"
#include "page_host.h"
#include "temp_dir.h"

namespace zb::testing {
namespace {

namespace fs = std::filesystem;
const char kMainTitle[] = "Zimbrel - The Ringtone Creator";

// A page that reports what it finds to the test's HTTP server (which any
// page may load an image from): whether it has window.external, and what a
// call gives. `more` runs after the report.
std::string Reporter(int port, const std::string& who, const std::string& body = "",
                     const std::string& more = "") {
  return "<!doctype html><body>" + body +
         "<script>\n"
         "function report(what) { new Image().src = 'http://127.0.0.1:" +
         std::to_string(port) +
         "/report?' + what; }\n"
         "var ext = typeof window.external, v = 'none';\n"
         "try { v = window.external.ZBL_GetVersion(); } catch (e) {}\n"
         "report('who=" +
         who + "&ext=' + ext + '&v=' + v);\n" + more + "</script></body>";
}

// A file URL that names `file` (outside res/) through res/, its way out
// spelt with encoded slashes: "file:///.../res/..%2f..%2fdir%2ffile".
std::string ThroughRes(const std::string& res, const std::string& file) {
  std::string way;
  for (char c : fs::relative(file, res).string())
    way += c == '/' ? std::string("%2f") : c == ' ' ? "%20" : std::string(1, c);
  return FileUri(res) + "/" + way;
}

// Our scheme's address for a path, and one that leaves res/ by "..%2f".
std::string Ours(const std::string& path) {
  return PageAddress(path);
}
std::string OursThroughRes(const std::string& res, const std::string& file) {
  std::string way;
  for (char c : fs::relative(file, res).string())
    way += c == '/' ? std::string("%2f") : c == ' ' ? "%20" : std::string(1, c);
  return Ours(res) + "/" + way;
}

std::string DataUri(const std::string& html) {
  gchar* b64 = g_base64_encode(reinterpret_cast<const guchar*>(html.data()), html.size());
  std::string s = std::string("data:text/html;base64,") + b64;
  g_free(b64);
  return s;
}

// The report of one page, or "" when it never came.
std::string ReportOf(MiniHttpServer& server, const std::string& who) {
  for (const std::string& r : server.Requests())
    if (r.rfind("/report?who=" + who + "&", 0) == 0) return r.substr(r.find('&') + 1);
  return "";
}

// ---------- The extension alone ----------

// The real web process extension and bridge in this process, with a plain
// view that loads whatever it is told: what the extension decides alone.
class ExtensionAlone : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    g_setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", TRUE);
    ASSERT_TRUE(m_bridge.Start());
    m_context = webkit_web_context_new();
    g_signal_connect(
        m_context, "initialize-web-extensions",
        G_CALLBACK(+[](WebKitWebContext* ctx, gpointer self) {
          auto* t = static_cast<ExtensionAlone*>(self);
          webkit_web_context_set_web_extensions_directory(
              ctx, (t->m_app.ModuleDir() + "/extensions").c_str());
          // The service's address is handed over as the program
          // does; it earns its pages nothing.
          webkit_web_context_set_web_extensions_initialization_user_data(
              ctx, WebExtensionData(t->m_bridge.SocketPath(), t->m_app.ModuleDir(),
                                    t->m_app.ModuleDir() + "/res/tmp",
                                    "http://127.0.0.1:" + std::to_string(t->m_reports.Port()) + "/",
                                    t->m_bridge.Secret()));
        }),
        this);
    m_pages = ProgramPages(m_app.ModuleDir(), m_app.ModuleDir() + "/res/tmp");
    RegisterPageScheme(m_context, &m_pages);
  }
  void TearDown() override {
    if (m_window) gtk_widget_destroy(m_window);
    if (m_context) g_object_unref(m_context);
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
  }

  // A fresh view (file access from file URLs as given) loading `uri`; waits
  // until every page named in `who` has reported, or the time is up.
  void Show(const std::string& uri, bool fileAccess, const std::vector<std::string>& who,
            int timeoutMs = 20000) {
    if (m_window) gtk_widget_destroy(m_window);
    WebKitSettings* settings = NewViewSettings();
    webkit_settings_set_allow_file_access_from_file_urls(settings, fileAccess);
    GtkWidget* view = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", m_context,
                                              "settings", settings, nullptr));
    g_object_unref(settings);
    m_window = gtk_offscreen_window_new();
    gtk_widget_set_size_request(view, 400, 300);
    gtk_container_add(GTK_CONTAINER(m_window), view);
    gtk_widget_show_all(m_window);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), uri.c_str());
    Pump(
        [&] {
          for (const std::string& w : who)
            if (ReportOf(m_reports, w).empty()) return false;
          return true;
        },
        timeoutMs);
  }
  // Runs the main loop (which serves the bridge) until `done` or the time is up.
  static void Pump(const std::function<bool()>& done, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
      for (int i = 0; i < 50 && g_main_context_iteration(nullptr, FALSE); ++i) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  AppHarness m_app;  // a copy of the module directory, its pages written below
  TempDir m_elsewhere;
  MiniHttpServer m_reports;
  TempDir m_reg;
  ScopedEnv m_regEnv{"ZIMBREL_REGISTRY_DIR", m_reg.Path()};
  CoreHost m_host{m_reg.Path(), testing::Quiet()};
  CExternalDispatch m_disp{[this]() -> CoreHost* { return &m_host; }};
  BridgeServer m_bridge{&m_disp};
  ProgramPages m_pages;
  WebKitWebContext* m_context = nullptr;
  GtkWidget* m_window = nullptr;
};

TEST_F(ExtensionAlone, OnlyPagesOfResWithPagesOfResAboveThemGetTheObject) {
  const int port = m_reports.Port();
  const std::string res = m_app.ModuleDir() + "/res";
  const std::string out = m_elsewhere.Path();
  auto frame = [](const std::string& src) { return "<iframe src=\"" + src + "\"></iframe>"; };
  const std::string web = "http://127.0.0.1:" + std::to_string(port);
  m_app.WritePage("own.html", Reporter(port, "own"));
  m_app.WritePage("inner.html", Reporter(port, "inner"));
  m_app.WritePage("inner2.html", Reporter(port, "inner2"));
  m_app.WritePage("outer.html", Reporter(port, "outer", frame("inner.html")));
  m_app.WritePage(
      "mixed.html",
      Reporter(port, "mixed", frame(FileUri(out + "/mid.html")) + frame(web + "/mid.html")));
  m_app.WritePage("tmp/work.html", Reporter(port, "work"));
  m_app.WritePage(
      "parent.html",
      Reporter(port, "parent", frame(FileUri(out + "/child.html")) + frame(web + "/child.html")));
  std::ofstream(out + "/evil.html") << Reporter(port, "evil");
  std::ofstream(out + "/frames.html")
      << Reporter(port, "frames", frame(Ours(res + "/inner2.html")),
                  "setTimeout(function () { var r = 'none';"
                  "  try { r = typeof frames[0].external; } catch (e) { r = 'blocked'; }"
                  "  report('who=framesreach&got=' + r); }, 1500);");
  m_app.WritePage("inner3.html", Reporter(port, "inner3"));
  std::ofstream(out + "/mid.html") << Reporter(port, "mid", frame(Ours(res + "/inner3.html")));
  std::ofstream(out + "/child.html")
      << Reporter(port, "child", "",
                  "var r = 'none'; try { r = parent.external.ZBL_GetVersion(); }"
                  " catch (e) { r = 'blocked'; } report('who=childreach&got=' + r);");
  m_reports.Serve("/svc.html", Reporter(port, "service"));
  // The same strangers from the web: our pages may frame those (and never a
  // local file).
  for (const char* page : {"/mid.html", "/child.html"}) {
    std::ifstream in(out + page);
    std::stringstream text;
    text << in.rdbuf();
    m_reports.Serve(page, text.str());
  }

  // Our page, and our page inside our page: the object, and calls answered.
  Show(Ours(res + "/own.html"), true, {"own"});
  EXPECT_EQ(ReportOf(m_reports, "own"), "ext=object&v=260");
  Show(Ours(res + "/outer.html"), false, {"outer", "inner"});
  EXPECT_EQ(ReportOf(m_reports, "outer"), "ext=object&v=260");
  EXPECT_EQ(ReportOf(m_reports, "inner"), "ext=object&v=260");

  // A file outside res/ named through res/ with encoded slashes: not served
  // by our scheme, and no object by its file URL.
  Show(OursThroughRes(res, out + "/evil.html"), true, {"evil"}, 5000);
  EXPECT_EQ(ReportOf(m_reports, "evil"), "");
  Show(ThroughRes(res, out + "/evil.html"), true, {"evil"});
  EXPECT_EQ(ReportOf(m_reports, "evil"), "ext=undefined&v=none");
  // Our page by its file URL: no object (only the scheme's pages are ours).
  m_app.WritePage("byfile.html", Reporter(port, "byfile"));
  Show(FileUri(res + "/byfile.html"), true, {"byfile"});
  EXPECT_EQ(ReportOf(m_reports, "byfile"), "ext=undefined&v=none");

  // A local page elsewhere framing one of ours: neither gets the object, and
  // the outer page cannot reach into ours.
  Show(FileUri(out + "/frames.html"), true, {"frames", "inner2", "framesreach"});
  EXPECT_EQ(ReportOf(m_reports, "frames"), "ext=undefined&v=none");
  EXPECT_EQ(ReportOf(m_reports, "inner2"), "ext=undefined&v=none");
  EXPECT_EQ(ReportOf(m_reports, "framesreach"), "got=blocked");

  // Ours, framing a page elsewhere (from the web: a local file never loads
  // in our page), framing ours: the innermost has a stranger above it.
  Show(Ours(res + "/mixed.html"), false, {"mixed", "mid", "inner3"});
  EXPECT_EQ(ReportOf(m_reports, "mixed"), "ext=object&v=260");
  EXPECT_EQ(ReportOf(m_reports, "mid"), "ext=undefined&v=none");
  EXPECT_EQ(ReportOf(m_reports, "inner3"), "ext=undefined&v=none");

  // A stranger that tries to take the address of one of our pages (through
  // the history API, which WebKit refuses here) before framing one of ours
  // earns that frame nothing.
  m_app.WritePage("inner4.html", Reporter(port, "inner4"));
  std::ofstream(out + "/disguise.html") << Reporter(
      port, "disguise", "",
      "var moved = 'no'; try { history.replaceState(null, '', '" + Ours(res + "/own.html") +
          "'); moved = String(location.href === '" + Ours(res + "/own.html") +
          "'); } catch (e) {}\n"
          "report('who=disguised&moved=' + moved);\n"
          "var f = document.createElement('iframe'); f.src = '" +
          Ours(res + "/inner4.html") + "'; document.body.appendChild(f);");
  Show(FileUri(out + "/disguise.html"), true, {"disguise", "disguised", "inner4"});
  EXPECT_EQ(ReportOf(m_reports, "disguise"), "ext=undefined&v=none");
  EXPECT_EQ(ReportOf(m_reports, "inner4"), "ext=undefined&v=none")
      << "moved: " << ReportOf(m_reports, "disguised");

  // A frame of a stranger (from the web: a local file never loads in our
  // page) cannot reach its parent's object.
  Show(Ours(res + "/parent.html"), false, {"parent", "child", "childreach"});
  EXPECT_EQ(ReportOf(m_reports, "parent"), "ext=object&v=260");
  EXPECT_EQ(ReportOf(m_reports, "childreach"), "got=blocked");
  EXPECT_EQ(ReportOf(m_reports, "child"), "ext=undefined&v=none");

  // A page in the work folder's name is never served, and a page of the
  // service gets nothing.
  Show(Ours(res + "/tmp/work.html"), true, {"work"}, 5000);
  EXPECT_EQ(ReportOf(m_reports, "work"), "");
  Show("http://127.0.0.1:" + std::to_string(port) + "/svc.html", true, {"service"});
  EXPECT_EQ(ReportOf(m_reports, "service"), "ext=undefined&v=none");

  // A service that redirects to one of our pages does not get it shown
  // (WebKit follows no redirect from the web to our scheme).
  m_app.WritePage("target.html", Reporter(port, "target"));
  std::atomic<int> asked{0};
  RawServer redirecting([&](RawConnection& c) {
    if (!c.ReadHead()) return;
    ++asked;
    c.Send("HTTP/1.0 302 Found\r\nLocation: " + Ours(res + "/target.html") +
           "\r\nContent-Length: 0\r\n\r\n");
  });
  Show("http://" + redirecting.Authority() + "/go", true, {"target"}, 5000);
  EXPECT_GE(asked.load(), 1);
  EXPECT_EQ(ReportOf(m_reports, "target"), "");
}

// ---------- The real program ----------

// Every way for another page into the program's view is refused: frames and
// navigations to a file elsewhere (also through "..%2f"), to the work
// folder, to data: and to the service; none of those pages ever loads, and
// the program's own page goes on working.
TEST(Trust, PagesOfOtherPlacesNeverLoadInTheProgramsViews) {
  MiniHttpServer reports;
  const int port = reports.Port();
  TempDir elsewhere;
  AppHarness app;
  const std::string res = app.ModuleDir() + "/res";
  std::ofstream(elsewhere / "evil.html") << Reporter(port, "evil");
  app.WritePage("tmp/work.html", Reporter(port, "work"));
  reports.Serve("/svc.html", Reporter(port, "service"));
  const std::vector<std::string> targets = {
      ThroughRes(res, elsewhere / "evil.html"),
      FileUri(elsewhere / "evil.html"),
      FileUri(res + "/tmp/work.html"),
      Ours(res + "/tmp/work.html"),
      OursThroughRes(res, elsewhere / "evil.html"),
      DataUri(Reporter(port, "data")),
      "http://127.0.0.1:" + std::to_string(port) + "/svc.html",
  };
  std::string list;
  for (const std::string& t : targets) list += (list.empty() ? "" : ",") + ("'" + t + "'");
  app.WritePage("selectSong.html", R"(<!doctype html><body><script>
var x = window.external, targets = [)" +
                                       list + R"(];
targets.forEach(function (t) {
  var f = document.createElement('iframe'); f.src = t; document.body.appendChild(f);
});
setTimeout(function () {
  var shown = Array.prototype.map.call(document.querySelectorAll('iframe'), function (f) {
    try { return f.contentWindow.location.href; } catch (e) { return 'other'; }
  });
  x.ZBL_SetZBName('frames ' + shown.join(' '));
  targets.forEach(function (t) { location.href = t; });
  setTimeout(function () { x.ZBL_SetZBPhone('still here ' + x.ZBL_GetVersion()); }, 2000);
}, 2000);
</script></body>)");
  app.Start();
  ASSERT_TRUE(app.WaitForValue("ZBPhone", "still here 260", 30000)) << app.Output();
  EXPECT_EQ(app.Value("ZBName"),
            "frames other other other about:blank about:blank about:blank about:blank");
  for (const char* who : {"evil", "work", "data", "service"})
    EXPECT_EQ(ReportOf(reports, who), "") << who;
  EXPECT_TRUE(reports.Requests().empty());
  AppHarness::RequestClose(app.FindWindow(kMainTitle));
  EXPECT_TRUE(app.WaitExit(20000));
}

// The program's bridge folder in a runtime folder of the test's own.
std::string BridgeSocketIn(const std::string& runtime) {
  for (const auto& e : fs::directory_iterator(runtime))
    if (e.path().filename().string().rfind("zimbrel-", 0) == 0) return e.path() / "bridge";
  return "";
}

int ConnectUnix(const std::string& path) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  timeval tv{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  return fd;
}

// A process of the same user that finds the socket gets no answer, with or
// without a guessed page id; the page goes on working. A killed run's folder
// is gone after the next start.
TEST(Trust, AProcessOfTheSameUserGetsNothingFromTheBridge) {
  TempDir runtime;
  fs::permissions(runtime.Path(), fs::perms::owner_all);
  AppHarness app;
  app.WritePage("selectSong.html", R"(<!doctype html><body><input id=f><script>
var x = window.external;
addEventListener('load', function () {
  document.getElementById('f').focus();
  x.ZBL_SetZBName('page');
});
addEventListener('keydown', function (e) {
  if (e.key === 'k') x.ZBL_SetZBPhone('still ' + x.ZBL_GetZBName());
});
</script></body>)");
  const std::map<std::string, std::string> env = {{"XDG_RUNTIME_DIR", runtime.Path()}};
  app.Start({}, env);
  ASSERT_TRUE(app.WaitForValue("ZBName", "page", 30000)) << app.Output();
  const std::string socket = BridgeSocketIn(runtime.Path());
  ASSERT_FALSE(socket.empty());

  std::vector<wire::Value> name(1);
  name[0].tag = wire::Tag::kString;
  name[0].s = "intruder";
  const std::string setName = wire::Frame(wire::EncodeInvoke(5, DISPATCH_METHOD, name));
  std::vector<std::string> firsts = {setName};
  for (uint64_t page = 1; page <= 16; ++page) {
    firsts.push_back(wire::Frame(wire::EncodeHello(page, "")) + setName);
    firsts.push_back(wire::Frame(wire::EncodeHello(page, std::string(64, 'a'))) + setName);
  }
  for (const std::string& first : firsts) {
    int fd = ConnectUnix(socket);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(wire::WriteFully(fd, first));
    std::string payload;
    EXPECT_FALSE(wire::ReadFrame(fd, &payload)) << "answered";
    ::close(fd);
  }
  std::string id = app.FindWindow(kMainTitle);
  ASSERT_TRUE(app.Keys(id, {"k"}));
  EXPECT_TRUE(app.WaitForValue("ZBPhone", "still page", 20000)) << app.Value("ZBPhone");

  // Killed: its folder stays behind until the next start.
  ::kill(app.Pid(), SIGKILL);
  app.WaitExit(10000);
  const std::string left = fs::path(socket).parent_path();
  EXPECT_TRUE(fs::exists(left));
  app.Start({}, env);
  ASSERT_TRUE(app.WaitUntil(
      [&] { return !BridgeSocketIn(runtime.Path()).empty() && !fs::exists(left); }, 30000));
  AppHarness::RequestClose(app.FindWindow(kMainTitle));
  EXPECT_TRUE(app.WaitExit(20000));
  EXPECT_TRUE(BridgeSocketIn(runtime.Path()).empty());  // a closed run leaves nothing
}

// Starts the program with its standard error in a file; returns the file.
std::string StartKeepingStderr(AppHarness& app, const TempDir& dir,
                               const std::map<std::string, std::string>& env = {}) {
  const std::string path = dir / "stderr.txt";
  int saved = ::dup(2);
  int log = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ::dup2(log, 2);
  app.Start({}, env);
  ::dup2(saved, 2);
  ::close(saved);
  ::close(log);
  return path;
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// Where the system lets users make namespaces, the web processes run in
// WebKit's sandbox: namespaces of their own, and of the program's files only
// the folders they need; otherwise the program says once why not.
TEST(Trust, WebProcessesRunInWebKitsSandboxWhereTheSystemAllowsIt) {
  AppHarness app;
  app.WritePage("selectSong.html", R"(<!doctype html><script>
window.external.ZBL_SetZBName('up ' + window.external.ZBL_GetVersion());
</script>)");
  TempDir errDir;
  const std::string errPath = StartKeepingStderr(app, errDir);
  ASSERT_TRUE(app.WaitForValue("ZBName", "up 260", 30000)) << app.Output();
  const std::string err = Slurp(errPath);
  const std::string off = "zimbrel: the pages run without WebKit's sandbox: ";
  if (err.find(off) != std::string::npos) {
    EXPECT_EQ(err.find(off), err.rfind(off)) << "said more than once";
    AppHarness::RequestClose(app.FindWindow(kMainTitle));
    app.WaitExit(20000);
    GTEST_SKIP() << err.substr(err.find(off));
  }
  auto web = AppHarness::ChildrenNamed(app.Pid(), "WebKitWebProces");
  ASSERT_FALSE(web.empty());
  for (pid_t p : web) {
    const std::string proc = "/proc/" + std::to_string(p), root = proc + "/root";
    for (const char* ns : {"mnt", "pid", "net"})
      EXPECT_NE(fs::read_symlink(proc + "/ns/" + ns),
                fs::read_symlink(std::string("/proc/self/ns/") + ns))
          << p << " " << ns;
    EXPECT_TRUE(fs::exists(root + app.ModuleDir() + "/res/selectSong.html")) << p;
    EXPECT_TRUE(fs::exists(root + app.ModuleDir() + "/extensions")) << p;
    EXPECT_FALSE(fs::exists(root + app.RegistryDir())) << p;
    EXPECT_FALSE(fs::exists(root + app.ModuleDir() + "/zimbrel")) << p;
  }
  AppHarness::RequestClose(app.FindWindow(kMainTitle));
  EXPECT_TRUE(app.WaitExit(20000));
}

// Where the sandbox cannot run, the program starts as before, without it, and
// says once why: on a system that refuses user namespaces (a seccomp filter
// here), and with an accessibility bus whose folder has gone (its launcher
// outlived the session that started it), which WebKit would end the program
// over.
TEST(Trust, WhereTheSandboxCannotRunTheProgramSaysWhyOnceAndRuns) {
  auto check = [](const std::function<void(AppHarness&)>& prepare,
                  const std::map<std::string, std::string>& env, const std::string& reason) {
    SCOPED_TRACE(reason);
    AppHarness app;
    app.WritePage("selectSong.html", R"(<!doctype html><script>
window.external.ZBL_SetZBName('up ' + window.external.ZBL_GetVersion());
</script>)");
    prepare(app);
    TempDir errDir;
    const std::string errPath = StartKeepingStderr(app, errDir, env);
    ASSERT_TRUE(app.WaitForValue("ZBName", "up 260", 30000)) << Slurp(errPath);
    const std::string err = Slurp(errPath);
    const std::string said = "zimbrel: the pages run without WebKit's sandbox: " + reason + "\n";
    EXPECT_NE(err.find(said), std::string::npos) << err;
    EXPECT_EQ(err.find(said), err.rfind(said)) << "said more than once";
    EXPECT_TRUE(AppHarness::ChildrenNamed(app.Pid(), "bwrap").empty());
    EXPECT_FALSE(AppHarness::ChildrenNamed(app.Pid(), "WebKitWebProces").empty());
    AppHarness::RequestClose(app.FindWindow(kMainTitle));
    EXPECT_TRUE(app.WaitExit(20000));
  };
  check(
      [](AppHarness& app) {
        const std::string real = app.ModuleDir() + "/zimbrel-real";
        fs::rename(app.ModuleDir() + "/zimbrel", real);
        app.WriteFile("zimbrel", "#!/bin/sh\nexec '" + std::string(ZIMBREL_BUILD_DIR) +
                                     "/tests/no_user_namespaces' '" + real + "' \"$@\"\n");
        fs::permissions(app.ModuleDir() + "/zimbrel", fs::perms::owner_all);
      },
      {}, "the system does not let this user create user namespaces");
  TempDir gone;
  check([](AppHarness&) {}, {{"AT_SPI_BUS_ADDRESS", "unix:path=" + gone / "gone/bus"}},
        "the accessibility bus's folder " + gone / "gone" + " is gone");
}

// A fake default browser that writes the address it was given to a file.
struct FakeBrowser {
  FakeBrowser() {
    fs::create_directories(xdg / "data/applications");
    fs::create_directories(xdg / "config");
    std::ofstream(xdg / "browser")
        << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << xdg.Path() << "/log'\n"
        << "printf '%s' \"$1\" > '" << xdg.Path() << "/.opened' && mv '" << xdg.Path()
        << "/.opened' '" << xdg.Path() << "/opened'\n";
    fs::permissions(xdg / "browser", fs::perms::owner_all);
    std::ofstream(xdg / "data/applications/fake-browser.desktop")
        << "[Desktop Entry]\nType=Application\nName=Fake Browser\nExec=" << xdg / "browser"
        << " %u\nMimeType=x-scheme-handler/http;\n";
    std::ofstream(xdg / "config/mimeapps.list")
        << "[Default Applications]\nx-scheme-handler/http=fake-browser.desktop\n";
  }
  std::map<std::string, std::string> Env() const {
    return {{"XDG_DATA_HOME", xdg / "data"}, {"XDG_CONFIG_HOME", xdg / "config"}};
  }
  std::string Opened() const {
    std::ifstream in(xdg / "opened");
    return std::string((std::istreambuf_iterator<char>(in)), {});
  }
  // Every address opened so far, one a line.
  std::string Log() const {
    std::ifstream in(xdg / "log");
    return std::string((std::istreambuf_iterator<char>(in)), {});
  }
  TempDir xdg;
};

// A web link the user follows opens in the default browser, not in the
// view, so the service's redirect to a local file never reaches the view;
// a page's script cannot take the view there either.
TEST(Trust, WebLinksTheUserFollowsOpenInTheBrowserAndNoScriptLeavesOurPages) {
  FakeBrowser browser;
  AppHarness app;
  // The service's address redirects to one of our pages.
  app.WritePage("target.html",
                "<!doctype html><script>window.external.ZBL_SetZBNetwork("
                "'redirected');</script>");
  std::atomic<int> asked{0};
  RawServer service([&](RawConnection& c) {
    if (!c.ReadHead()) return;
    ++asked;
    c.Send("HTTP/1.0 302 Found\r\nLocation: " + Ours(app.ModuleDir() + "/res/target.html") +
           "\r\nContent-Length: 0\r\n\r\n");
  });
  const std::string target = "http://" + service.Authority() + "/redir";
  app.WritePage("selectSong.html", R"(<!doctype html><head><style>
a { display: block; width: 760px; height: 520px; }</style></head><body>
<a id=l href=")" + target + R"(">the service</a><script>
var x = window.external;
addEventListener('load', function () {
  location.href = ')" + target + R"(?by=script';
  setTimeout(function () { x.ZBL_SetZBName('loaded'); }, 1000);
});
addEventListener('keydown', function (e) { x.ZBL_SetZBPhone('still ' + e.key); });
</script></body>)");
  app.Start({}, browser.Env());
  ASSERT_TRUE(app.WaitForValue("ZBName", "loaded", 30000)) << app.Output();
  std::string id = app.FindWindow(kMainTitle);
  ASSERT_FALSE(id.empty());
  AppHarness::Geometry g = AppHarness::WindowGeometry(id);
  ASSERT_TRUE(AppHarness::FocusWindow(id));
  AppHarness::Xdo({"mousemove", "--sync", std::to_string(g.x + g.width / 2),
                   std::to_string(g.y + g.height / 2), "click", "1"});
  ASSERT_TRUE(app.WaitUntil([&] { return !browser.Opened().empty(); }, 15000));
  EXPECT_EQ(browser.Opened(), target);
  ASSERT_TRUE(app.Keys(id, {"k"}));
  EXPECT_TRUE(app.WaitForValue("ZBPhone", "still k", 20000));
  EXPECT_EQ(asked.load(), 0);  // the view never asked the service
  EXPECT_EQ(app.Value("ZBNetwork"), "");
  AppHarness::RequestClose(id);
  EXPECT_TRUE(app.WaitExit(20000));
}

// A page file dropped on a page that does not take drops itself is refused
// with a box, and its script never runs; the page stays.
TEST(Trust, ADroppedPageIsRefusedWithABox) {
  MiniHttpServer reports;
  TempDir elsewhere;
  std::ofstream(elsewhere / "dropped.html") << Reporter(reports.Port(), "dropped");
  AppHarness app;
  app.WritePage("selectSong.html", R"(<!doctype html><body><script>
var x = window.external;
x.ZBL_SetZBName('loaded');
addEventListener('keydown', function (e) { x.ZBL_SetZBPhone('still ' + e.key); });
</script></body>)");
  app.Start();
  ASSERT_TRUE(app.WaitForValue("ZBName", "loaded", 30000)) << app.Output();
  std::string id = app.FindWindow(kMainTitle);
  AppHarness::Geometry g = AppHarness::WindowGeometry(id);
  ASSERT_TRUE(
      DragFileOnto(FileUri(elsewhere / "dropped.html"), g.x + g.width / 2, g.y + g.height / 2));
  std::string box = app.FindWindow("Zimbrel", 15000);
  ASSERT_FALSE(box.empty()) << "no box";
  ASSERT_TRUE(app.Keys(box, {"Return"}));
  ASSERT_TRUE(app.Keys(id, {"k"}));
  EXPECT_TRUE(app.WaitForValue("ZBPhone", "still k", 20000));
  EXPECT_EQ(ReportOf(reports, "dropped"), "");
  AppHarness::RequestClose(id);
  EXPECT_TRUE(app.WaitExit(20000));
}

// Script alone opens no browser and downloads nothing: five clicks on a
// link and a form sent by script, the browser member called from script and
// script downloads (one that names a way out of the downloads folder) are
// all refused; the user's own click on the link and on a button that calls
// the member each open the browser once.
TEST(Trust, ScriptAloneNeitherOpensTheBrowserNorDownloads) {
  FakeBrowser browser;
  TempDir home;
  AppHarness app;
  app.WritePage("selectSong.html", R"(<!doctype html><head><style>
body { margin: 0; } a, button { display: block; width: 760px; height: 250px; }</style></head><body>
<a id=l href="http://127.0.0.1:65001/clicked">the link</a>
<button id=b>the homepage</button>
<a id=s href="http://127.0.0.1:65001/by-script"></a>
<a id=d1 href="aboutBox.html" download="../../../escaped.html"></a>
<a id=d2 href="zimbrel.css" download="kept.css"></a>
<form id=f action="http://127.0.0.1:65001/form"><input name=q value=1></form>
<script>
var x = window.external;
document.getElementById('b').onclick = function () { x.ZBL_NavigateURL('homepage'); };
addEventListener('load', function () {
  for (var i = 0; i < 5; i++) document.getElementById('s').click();
  document.getElementById('f').submit();
  x.ZBL_NavigateURL('by-script');
  document.getElementById('d1').click();
  document.getElementById('d2').click();
  setTimeout(function () { x.ZBL_SetZBName('scripted'); }, 2000);
});
</script></body>)");
  auto env = browser.Env();
  env["HOME"] = home.Path();
  env["XDG_DOWNLOAD_DIR"] = home.Path() + "/Downloads";
  // A service on TCP: its redirect address is known without asking it.
  env["ZIMBREL_SERVICE_HOST"] = "example.test";
  app.Start({}, env);
  ASSERT_TRUE(app.WaitForValue("ZBName", "scripted", 30000)) << app.Output();
  EXPECT_EQ(browser.Log(), "");
  std::vector<std::string> saved;
  for (const auto& e : fs::recursive_directory_iterator(home.Path()))
    if (e.is_regular_file()) saved.push_back(e.path());
  EXPECT_TRUE(saved.empty()) << saved.front();
  EXPECT_FALSE(fs::exists(fs::path(app.ModuleDir()).parent_path() / "escaped.html"));

  std::string id = app.FindWindow(kMainTitle);
  ASSERT_FALSE(id.empty());
  AppHarness::Geometry g = AppHarness::WindowGeometry(id);
  ASSERT_TRUE(AppHarness::FocusWindow(id));
  AppHarness::Xdo({"mousemove", "--sync", std::to_string(g.x + 300),
                   std::to_string(g.y + g.height / 2 - 140), "click", "1"});
  ASSERT_TRUE(app.WaitUntil([&] { return !browser.Opened().empty(); }, 15000));
  EXPECT_EQ(browser.Log(), "http://127.0.0.1:65001/clicked\n");
  AppHarness::Xdo({"mousemove", "--sync", std::to_string(g.x + 300),
                   std::to_string(g.y + g.height / 2 + 120), "click", "1"});
  ASSERT_TRUE(app.WaitUntil(
      [&] { return browser.Log().find("where=homepage") != std::string::npos; }, 15000))
      << browser.Log();
  const std::string opened = browser.Log();
  EXPECT_EQ(std::count(opened.begin(), opened.end(), '\n'), 2) << opened;
  AppHarness::RequestClose(id);
  EXPECT_TRUE(app.WaitExit(20000));
}

}  // namespace
}  // namespace zb::testing
