// Registration and removal of the built library in a temporary registry,
// through its exported entry points and the registration tool.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "shellext/dovetril_ids.h"
#include "shellext/dovetril_registration.h"
#include "shellext_test_support.h"

namespace zb::dovetril {
namespace {

namespace fs = std::filesystem;
using zb::testing::FileBytes;
using zb::testing::RegSzFile;
using zb::testing::ScopedEnv;
using zb::testing::Snapshot;
using zb::testing::TempDir;

const std::string kClsid = "{5905D5DE-79B4-4149-AE02-9847C2A328ED}";
const std::string kIid = "{5905D5DD-79B4-4149-AE02-9847C2A328ED}";
const std::string kLibid = "{5905D5D1-79B4-4149-AE02-9847C2A328ED}";
const std::string kApproved =
    "/HKEY_LOCAL_MACHINE/Software/Microsoft/Windows/CurrentVersion/Shell Extensions/Approved";

std::string RealPath(const std::string& p) {
  char buf[PATH_MAX];
  return ::realpath(p.c_str(), buf) ? buf : p;
}

// The built library, loaded as a registration tool loads it.
class Library {
 public:
  explicit Library(const std::string& path)
      : m_handle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
  ~Library() {
    if (m_handle) dlclose(m_handle);
  }
  bool Ok() const { return m_handle != nullptr; }
  HRESULT Call(const char* entry) {
    auto fn = reinterpret_cast<HRESULT (*)()>(dlsym(m_handle, entry));
    return fn ? fn() : E_FAIL;
  }

 private:
  void* m_handle;
};

class RegistrationTest : public ::testing::Test {
 protected:
  std::string Root(const std::string& rel = "") { return m_dir.Path() + "/reg" + rel; }
  std::string Classes(const std::string& rel) { return Root("/HKEY_CLASSES_ROOT/" + rel); }

  TempDir m_dir;
  ScopedEnv m_env{"ZIMBREL_REGISTRY_DIR", m_dir / "reg"};
  std::string m_libPath = RealPath(DOVETRIL_SO);
};

TEST_F(RegistrationTest, WritesTheTableWithTheResolvedLibraryPath) {
  zb::testing::ProvisionApprovalKey();
  // Loaded through a link: the registry names the file itself.
  std::string link = m_dir / "link.so";
  fs::create_symlink(m_libPath, link);
  Library lib(link);
  ASSERT_TRUE(lib.Ok()) << dlerror();
  ASSERT_EQ(lib.Call("DllRegisterServer"), S_OK);

  auto sz = [&](const std::string& rel) { return FileBytes(Classes(rel)); };
  EXPECT_EQ(sz("Dovetril.DovetrilShl.1/@"), RegSzFile("DovetrilShl Class"));
  EXPECT_EQ(sz("Dovetril.DovetrilShl.1/CLSID/@"), RegSzFile(kClsid));
  EXPECT_EQ(sz("Dovetril.DovetrilShl/@"), RegSzFile("DovetrilShl Class"));
  EXPECT_EQ(sz("Dovetril.DovetrilShl/CLSID/@"), RegSzFile(kClsid));
  EXPECT_EQ(sz("Dovetril.DovetrilShl/CurVer/@"), RegSzFile("Dovetril.DovetrilShl.1"));
  std::string cls = "CLSID/" + kClsid;
  EXPECT_EQ(sz(cls + "/@"), RegSzFile("DovetrilShl Class"));
  EXPECT_EQ(sz(cls + "/ProgID/@"), RegSzFile("Dovetril.DovetrilShl.1"));
  EXPECT_EQ(sz(cls + "/VersionIndependentProgID/@"), RegSzFile("Dovetril.DovetrilShl"));
  EXPECT_TRUE(fs::is_directory(Classes(cls + "/Programmable")));
  EXPECT_TRUE(fs::is_empty(Classes(cls + "/Programmable")));
  EXPECT_EQ(sz(cls + "/InprocServer32/@"), RegSzFile(m_libPath));
  EXPECT_EQ(sz(cls + "/InprocServer32/ThreadingModel"), RegSzFile("Apartment"));
  EXPECT_EQ(sz(cls + "/TypeLib/@"), RegSzFile(kLibid));
  EXPECT_EQ(sz("*/ShellEx/ContextMenuHandlers/DovetrilShl/@"), RegSzFile(kClsid));
  std::string tl = "TypeLib/" + kLibid + "/1.0";
  EXPECT_EQ(sz(tl + "/@"), RegSzFile("Dovetril 1.0 Type Library"));
  EXPECT_EQ(sz(tl + "/0/win32/@"), RegSzFile(m_libPath));
  EXPECT_EQ(sz(tl + "/FLAGS/@"), RegSzFile("0"));
  EXPECT_EQ(sz(tl + "/HELPDIR/@"), RegSzFile(fs::path(m_libPath).parent_path().string()));
  EXPECT_EQ(sz("Interface/" + kIid + "/@"), RegSzFile("IDovetrilShl"));
  EXPECT_EQ(sz("Interface/" + kIid + "/TypeLib/@"), RegSzFile(kLibid));
  EXPECT_EQ(sz("Interface/" + kIid + "/TypeLib/Version"), RegSzFile("1.0"));
  EXPECT_EQ(FileBytes(Root(kApproved + "/" + kClsid)), RegSzFile("DovetrilShl extension"));
}

TEST_F(RegistrationTest, RegisteringTwiceEqualsOnceAndDropsStaleSubkeys) {
  zb::testing::ProvisionApprovalKey();
  Library lib(m_libPath);
  ASSERT_EQ(lib.Call("DllRegisterServer"), S_OK);
  auto once = Snapshot(Root());
  fs::create_directories(Classes("CLSID/" + kClsid + "/Stale/Deeper"));
  fs::create_directories(Classes("CLSID/" + kClsid + "/Programmable/Old"));
  fs::create_directories(Classes("*/ShellEx/ContextMenuHandlers/DovetrilShl/Stale"));
  ASSERT_EQ(lib.Call("DllRegisterServer"), S_OK);
  EXPECT_EQ(Snapshot(Root()), once);
}

TEST_F(RegistrationTest, RemovalKeepsSharedKeysAndForeignSubkeysOnly) {
  zb::testing::ProvisionApprovalKey();
  Library lib(m_libPath);
  ASSERT_EQ(lib.Call("DllRegisterServer"), S_OK);
  // Another program's subkey under a program id, and another handler.
  fs::create_directories(Classes("Dovetril.DovetrilShl/Shell/Open"));
  fs::create_directories(Classes("*/ShellEx/ContextMenuHandlers/Other"));
  ASSERT_EQ(lib.Call("DllUnregisterServer"), S_OK);

  for (const char* kept : {"CLSID", "*", "*/ShellEx", "*/ShellEx/ContextMenuHandlers",
                           "*/ShellEx/ContextMenuHandlers/Other", "Dovetril.DovetrilShl",
                           "Dovetril.DovetrilShl/Shell/Open"})
    EXPECT_TRUE(fs::is_directory(Classes(kept))) << kept;
  for (const std::string& gone : std::vector<std::string>{
           "Dovetril.DovetrilShl.1", "Dovetril.DovetrilShl/CLSID", "Dovetril.DovetrilShl/CurVer",
           "CLSID/" + kClsid, "*/ShellEx/ContextMenuHandlers/DovetrilShl", "TypeLib/" + kLibid,
           "Interface/" + kIid})
    EXPECT_FALSE(fs::exists(Classes(gone))) << gone;
  EXPECT_TRUE(fs::is_directory(Root(kApproved)));
  EXPECT_FALSE(fs::exists(Root(kApproved + "/" + kClsid)));
  // Removal never fails, even with nothing left to remove.
  EXPECT_EQ(lib.Call("DllUnregisterServer"), S_OK);
}

TEST_F(RegistrationTest, MissingApprovalKeyDeniesAndWritesNothing) {
  Library lib(m_libPath);
  EXPECT_EQ(lib.Call("DllRegisterServer"), E_ACCESSDENIED);
  EXPECT_TRUE(Snapshot(Root("/HKEY_CLASSES_ROOT")).empty());
}

TEST_F(RegistrationTest, ConsumerLineLeavesTheApprovalKeyAlone) {
  const uint32_t consumer = 0xC0000A04;
  ASSERT_TRUE(IsConsumerLine(consumer));
  EXPECT_EQ(RegisterServer(m_libPath, consumer), S_OK);  // no approval key needed
  EXPECT_TRUE(fs::exists(Classes("CLSID/" + kClsid + "/InprocServer32/@")));
  EXPECT_FALSE(fs::exists(Root("/HKEY_LOCAL_MACHINE")));

  zb::testing::ProvisionApprovalKey();
  ASSERT_EQ(RegisterServer(m_libPath, DefaultPlatformVersion()), S_OK);
  EXPECT_EQ(UnregisterServer(m_libPath, consumer), S_OK);
  EXPECT_TRUE(fs::exists(Root(kApproved + "/" + kClsid)));
  EXPECT_FALSE(fs::exists(Classes("CLSID/" + kClsid)));
}

TEST_F(RegistrationTest, PathWithAQuoteIsWrittenAsItIs) {
  zb::testing::ProvisionApprovalKey();
  std::string copy = m_dir / "it's here/dovetril.so";
  fs::create_directories(fs::path(copy).parent_path());
  fs::copy_file(m_libPath, copy);
  Library lib(copy);
  ASSERT_TRUE(lib.Ok());
  ASSERT_EQ(lib.Call("DllRegisterServer"), S_OK);
  EXPECT_EQ(FileBytes(Classes("CLSID/" + kClsid + "/InprocServer32/@")), RegSzFile(copy));
}

// Runs a command, returns its exit status and standard output.
int RunCommand(const std::string& cmd, std::string* out) {
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return -1;
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out->append(buf, n);
  int status = ::pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(RegistrationTest, ToolReportsResultCodes) {
  std::string out;
  std::string tool = REGSVR_TOOL;
  std::string envs = "ZIMBREL_REGISTRY_DIR='" + Root() + "' ";
  EXPECT_EQ(RunCommand(envs + tool + " " + m_libPath, &out), 5);
  EXPECT_NE(out.find("Return code was: 0x80070005"), std::string::npos) << out;
  out.clear();
  EXPECT_EQ(RunCommand(envs + tool + " --provision", &out), 0) << out;
  EXPECT_EQ(RunCommand(envs + tool + " " + m_libPath, &out), 0) << out;
  EXPECT_EQ(RunCommand(envs + tool + " -u " + m_libPath, &out), 0) << out;
  out.clear();
  EXPECT_EQ(RunCommand(envs + tool + " " + m_dir.Path() + "/missing.so", &out), 3) << out;
  EXPECT_EQ(RunCommand(tool + " 2>&1", &out), 1);
}

TEST_F(RegistrationTest, UnprivilegedUserIsDeniedOnARootOwnedMachineKey) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the tool as another user";
  if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv is missing";
  zb::testing::ProvisionApprovalKey();  // owned by root, mode 0755
  // The classes root is the caller's own: only the approval step can stop it.
  fs::create_directories(Root("/HKEY_CLASSES_ROOT"));
  ASSERT_EQ(::chown(Root("/HKEY_CLASSES_ROOT").c_str(), 65534, 65534), 0);
  ::chmod(m_dir.Path().c_str(), 0755);
  // The tool and library must be reachable by that user.
  std::string bin = m_dir / "bin";
  fs::create_directories(bin);
  fs::copy_file(REGSVR_TOOL, bin + "/dovetril-regsvr");
  fs::copy_file(m_libPath, bin + "/dovetril.so");
  ::chmod(bin.c_str(), 0755);
  ::chmod((bin + "/dovetril.so").c_str(), 0755);
  ::chmod((bin + "/dovetril-regsvr").c_str(), 0755);

  std::string out;
  int rc = RunCommand("ZIMBREL_REGISTRY_DIR='" + Root() +
                          "' setpriv --reuid=65534 --regid=65534 --clear-groups " + bin +
                          "/dovetril-regsvr " + bin + "/dovetril.so 2>&1",
                      &out);
  EXPECT_EQ(rc, 5) << out;
  EXPECT_NE(out.find("0x80070005"), std::string::npos) << out;
  EXPECT_TRUE(fs::is_empty(Root("/HKEY_CLASSES_ROOT")));
  EXPECT_TRUE(fs::is_empty(Root(kApproved)));
}

TEST(DovetrilLibraryTest, ExportsOnlyTheFourEntryPoints) {
  std::string out;
  ASSERT_EQ(RunCommand(std::string("nm -D --defined-only ") + DOVETRIL_SO, &out), 0);
  std::vector<std::string> names;
  size_t pos = 0;
  while (pos < out.size()) {
    size_t end = out.find('\n', pos);
    std::string line = out.substr(pos, end - pos);
    pos = end == std::string::npos ? out.size() : end + 1;
    auto space = line.rfind(' ');
    if (space != std::string::npos) names.push_back(line.substr(space + 1));
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"DllCanUnloadNow", "DllGetClassObject",
                                             "DllRegisterServer", "DllUnregisterServer"}));
  out.clear();
  ASSERT_EQ(RunCommand(std::string("ldd ") + DOVETRIL_SO, &out), 0);
  EXPECT_EQ(out.find("libgtk-3"), std::string::npos) << out;
}

}  // namespace
}  // namespace zb::dovetril
