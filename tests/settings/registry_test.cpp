#include "settings/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "temp_dir.h"

namespace zb {
namespace {

using zb::testing::ScopedEnv;
using zb::testing::TempDir;

std::string FileBytes(const std::string& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

class SettingsTest : public ::testing::Test {
 protected:
  TempDir m_dir;
  ScopedEnv m_env{"ZIMBREL_REGISTRY_DIR", m_dir.Path()};
  std::string ValueFile(const std::string& name) {
    return m_dir / ("HKEY_CURRENT_USER/Software/Zimbrel/" + name);
  }
};

TEST_F(SettingsTest, TraceOfReadsWritesAndLifetimeIsExact) {
  ::testing::internal::CaptureStdout();
  {
    registry r("Software\\Zimbrel", reg::Root::kCurrentUser);
    registry::value name(r, "ZBName");
    EXPECT_EQ(name.get(), "");  // never stored: fails, nothing written
    EXPECT_EQ(name.get(), "");  // and tries again
    name.set("abc");
    EXPECT_EQ(name.get(), "abc");  // from memory, no trace
  }
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "REG_TRACE:\tconstructing registry for \"Software\\Zimbrel\" ... OK\n"
            "REG_TRACE:\tconstructed object registry::value with name \"ZBName\"\n"
            "REG_TRACE:\treading value for key \"ZBName\" from registry ... Failed!\n"
            "REG_TRACE:\treading value for key \"ZBName\" from registry ... Failed!\n"
            "REG_TRACE:\twriting current value of key \"ZBName\" (data size is 3 bytes) to "
            "registry ... OK\n"
            "REG_TRACE:\tdestructed object registry::value with name \"ZBName\"\n"
            "REG_TRACE:\tdestructing registry\n");
  EXPECT_EQ(FileBytes(ValueFile("ZBName")), std::string("\x03\0\0\0abc", 7));

  ::testing::internal::CaptureStdout();
  {
    registry r("Software\\Zimbrel", static_cast<reg::Root>(7));  // no root: the current user
    registry::value name(r, "ZBName");
    EXPECT_EQ(name.get(), "abc");
    EXPECT_EQ(name.get(), "abc");
  }
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "REG_TRACE:\tconstructing registry for \"Software\\Zimbrel\" ... OK\n"
            "REG_TRACE:\tconstructed object registry::value with name \"ZBName\"\n"
            "REG_TRACE:\treading value for key \"ZBName\" from registry ... OK (read data size "
            "is 3 bytes)\n"
            "REG_TRACE:\tdestructed object registry::value with name \"ZBName\"\n"
            "REG_TRACE:\tdestructing registry\n");
}

// The constructor's root index: each root keeps its values in its own
// folder, named after the root as the registry's files always were; a number
// that is no root is the current user.
TEST_F(SettingsTest, EachRootIndexWritesInTheFolderOfItsRoot) {
  const std::pair<int, const char*> roots[] = {
      {0, "HKEY_CLASSES_ROOT"},  {1, "HKEY_CURRENT_CONFIG"}, {2, "HKEY_CURRENT_USER"},
      {3, "HKEY_LOCAL_MACHINE"}, {4, "HKEY_USERS"},          {5, "HKEY_DYN_DATA"},
      {-1, "HKEY_CURRENT_USER"}, {6, "HKEY_CURRENT_USER"},
  };
  for (const auto& [index, folder] : roots) {
    SCOPED_TRACE(index);
    const std::string name = "Value" + std::to_string(index + 1);
    {
      registry r("Software\\Zimbrel", static_cast<reg::Root>(index));
      registry::value v(r, name);
      v.set("x");
    }
    EXPECT_EQ(FileBytes(m_dir / (std::string(folder) + "/Software/Zimbrel/" + name)),
              std::string("\x03\0\0\0x", 5));
  }
  EXPECT_EQ(static_cast<int>(reg::Root::kCurrentUser), 2);  // what both deliverables open
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.Path()), {}), 6);
}

TEST_F(SettingsTest, ForeignTextWithTerminatorAndLongValuesReadWhole) {
  {
    registry r("Software\\Zimbrel", reg::Root::kCurrentUser);
    reg::RegSetValueExA(r.Handle(), "T", 0, reg::REG_BINARY,
                        reinterpret_cast<const reg::BYTE*>("abc\0"), 4);
    std::string longValue(3000, 'L');
    reg::RegSetValueExA(r.Handle(), "Long", 0, reg::REG_BINARY,
                        reinterpret_cast<const reg::BYTE*>(longValue.data()), 3000);
  }
  ::testing::internal::CaptureStdout();
  registry r("Software\\Zimbrel", reg::Root::kCurrentUser);
  registry::value t(r, "T");
  registry::value l(r, "Long");
  EXPECT_EQ(t.get(), "abc");
  EXPECT_EQ(l.get(), std::string(3000, 'L'));
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("OK (read data size is 4 bytes)"), std::string::npos);
  EXPECT_NE(out.find("OK (read data size is 3000 bytes)"), std::string::npos);
}

TEST_F(SettingsTest, FailedWriteStaysPendingAndTheDestructorRetries) {
  std::filesystem::create_directories(m_dir / "HKEY_CURRENT_USER/Software/Zimbrel");
  if (::geteuid() == 0) GTEST_SKIP() << "root ignores folder modes; covered by the kill test";
  ::testing::internal::CaptureStdout();
  {
    registry r("Software\\Zimbrel", reg::Root::kCurrentUser);
    registry::value v(r, "ZBPhone");
    ::chmod(ValueFile("").c_str(), 0500);
    v.set("555");
    EXPECT_TRUE(v.IsModified());
    EXPECT_EQ(v.get(), "555");
    ::chmod(ValueFile("").c_str(), 0700);
  }
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("(data size is 3 bytes) to registry ... Failed!\n"), std::string::npos);
  EXPECT_NE(out.find("(data size is 3 bytes) to registry ... OK\n"), std::string::npos);
  EXPECT_EQ(FileBytes(ValueFile("ZBPhone")), std::string("\x03\0\0\0"
                                                         "555",
                                                         7));
}

TEST_F(SettingsTest, UnopenableKeyFailsEveryStepButKeepsValuesInMemory) {
  // A file where the key's folder should be.
  std::filesystem::create_directories(m_dir / "HKEY_CURRENT_USER/Software");
  std::ofstream(m_dir / "HKEY_CURRENT_USER/Software/Zimbrel") << "x";
  ::testing::internal::CaptureStdout();
  {
    registry r("Software\\Zimbrel", reg::Root::kCurrentUser);
    EXPECT_EQ(r.Handle(), nullptr);
    registry::value v(r, "ZBAid");
    EXPECT_EQ(v.get(), "");
    v.set("2");
    EXPECT_EQ(v.get(), "2");
    EXPECT_TRUE(v.IsModified());
  }
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(
      out.rfind("REG_TRACE:\tconstructing registry for \"Software\\Zimbrel\" ... Failed!\n", 0),
      0u);
  // set fails, then the destructor's retry fails too.
  size_t first = out.find("to registry ... Failed!");
  EXPECT_NE(first, std::string::npos);
  EXPECT_NE(out.find("to registry ... Failed!", first + 1), std::string::npos);
}

}  // namespace
}  // namespace zb
