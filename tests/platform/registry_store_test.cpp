#include "platform/registry_store.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "temp_dir.h"

namespace zb::reg {
namespace {

namespace fs = std::filesystem;
using zb::testing::ScopedEnv;
using zb::testing::TempDir;

std::string FileBytes(const std::string& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

class RegistryStoreTest : public ::testing::Test {
 protected:
  TempDir m_dir;
  ScopedEnv m_env{"ZIMBREL_REGISTRY_DIR", m_dir.Path()};
  HKEY Create(const char* path, HKEY root = HKEY_CURRENT_USER) {
    HKEY k = nullptr;
    EXPECT_EQ(RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    return k;
  }
};

TEST_F(RegistryStoreTest, KeysAreFoldersAndValuesAreTypedFiles) {
  HKEY k = Create("Software\\Zimbrel");
  DWORD disp = 0;
  HKEY again = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Zimbrel", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &again, &disp),
            ERROR_SUCCESS);
  EXPECT_EQ(disp, REG_OPENED_EXISTING_KEY);
  RegCloseKey(again);

  const BYTE abc[] = {'a', 'b', 'c'};
  ASSERT_EQ(RegSetValueExA(k, "ZBName", 0, REG_BINARY, abc, 3), ERROR_SUCCESS);
  std::string file = m_dir / "HKEY_CURRENT_USER/Software/Zimbrel/ZBName";
  EXPECT_EQ(FileBytes(file), std::string("\x03\0\0\0abc", 7));

  // REG_SZ is stored as UTF-16LE with its terminator; the narrow read converts back.
  const char* text = "h\xC3\xA9";
  ASSERT_EQ(RegSetValueExA(k, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 4),
            ERROR_SUCCESS);
  EXPECT_EQ(FileBytes(m_dir / "HKEY_CURRENT_USER/Software/Zimbrel/@"),
            std::string("\x01\0\0\0h\0\xE9\0\0\0", 10));
  char buf[16];
  DWORD size = sizeof buf, type = 0;
  ASSERT_EQ(RegQueryValueExA(k, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(std::string(buf, size), std::string("h\xC3\xA9\0", 4));
  RegCloseKey(k);
}

TEST_F(RegistryStoreTest, BufferSizesFollowTheOriginalRules) {
  HKEY k = Create("K");
  std::string big(5000, 'x');
  big[10] = '\0';
  ASSERT_EQ(RegSetValueExA(k, "big", 0, REG_BINARY, reinterpret_cast<const BYTE*>(big.data()),
                           static_cast<DWORD>(big.size())),
            ERROR_SUCCESS);
  BYTE small[1024];
  DWORD size = sizeof small;
  EXPECT_EQ(RegQueryValueExA(k, "big", nullptr, nullptr, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 5000u);
  std::string out(size, '\0');
  ASSERT_EQ(
      RegQueryValueExA(k, "big", nullptr, nullptr, reinterpret_cast<BYTE*>(out.data()), &size),
      ERROR_SUCCESS);
  EXPECT_EQ(out, big);
  size = 0;
  EXPECT_EQ(RegQueryValueExA(k, "missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  RegCloseKey(k);
}

TEST_F(RegistryStoreTest, NamesAreEscapedCaseSensitiveAndExclusive) {
  HKEY k = Create("A");
  const BYTE one[] = {1};
  for (const char* name : {"a/b", "50%", ".hidden", "@at", "Name", "name"})
    ASSERT_EQ(RegSetValueExA(k, name, 0, REG_BINARY, one, 1), ERROR_SUCCESS) << name;
  EXPECT_TRUE(fs::exists(m_dir / "HKEY_CURRENT_USER/A/a%2Fb"));
  EXPECT_TRUE(fs::exists(m_dir / "HKEY_CURRENT_USER/A/50%25"));
  EXPECT_TRUE(fs::exists(m_dir / "HKEY_CURRENT_USER/A/%2Ehidden"));
  EXPECT_TRUE(fs::exists(m_dir / "HKEY_CURRENT_USER/A/%40at"));
  auto values = ListValues(k);
  EXPECT_EQ(values, (std::vector<std::string>{".hidden", "50%", "@at", "Name", "a/b", "name"}));

  // A value and a subkey of one name cannot coexist, either way round.
  HKEY sub = nullptr;
  EXPECT_NE(RegCreateKeyExA(k, "Name", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
            ERROR_SUCCESS);
  HKEY s2 = Create("Sub", k);
  RegCloseKey(s2);
  EXPECT_NE(RegSetValueExA(k, "Sub", 0, REG_BINARY, one, 1), ERROR_SUCCESS);
  RegCloseKey(k);
}

TEST_F(RegistryStoreTest, DeleteKeyRefusesSubkeysAndDeleteTreeTakesAll) {
  HKEY k = Create("T\\A\\B");
  const BYTE one[] = {1};
  RegSetValueExA(k, "v", 0, REG_DWORD, one, 1);
  RegCloseKey(k);
  HKEY t = Create("T");
  EXPECT_EQ(RegDeleteKeyA(t, "A"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(t, "A\\B"), ERROR_SUCCESS);  // values only: fine
  EXPECT_EQ(ListSubkeys(t), std::vector<std::string>{"A"});
  HKEY again = Create("T\\A\\B\\C");
  RegCloseKey(again);
  EXPECT_EQ(RegDeleteTreeA(t, "A"), ERROR_SUCCESS);
  EXPECT_TRUE(ListSubkeys(t).empty());
  EXPECT_EQ(RegDeleteTreeA(t, "A"), ERROR_FILE_NOT_FOUND);
  RegCloseKey(t);
}

TEST_F(RegistryStoreTest, TemporariesAreSkippedAndSweptByTheNextWrite) {
  HKEY k = Create("S");
  std::string keyDir = KeyDirectory(k);
  // What a writer killed between create and rename leaves behind (pid 1 is
  // alive, but the file is old; a dead pid is swept at once).
  std::string dead = keyDir + "/.zbtmp-999999999-0-0";
  std::ofstream(dead) << "torn";
  char name[64];
  DWORD cch = sizeof name;
  EXPECT_EQ(RegEnumValueA(k, 0, name, &cch, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  const BYTE one[] = {1};
  ASSERT_EQ(RegSetValueExA(k, "v", 0, REG_BINARY, one, 1), ERROR_SUCCESS);
  EXPECT_FALSE(fs::exists(dead));
  EXPECT_EQ(ListValues(k), std::vector<std::string>{"v"});
  RegCloseKey(k);
}

TEST_F(RegistryStoreTest, CorruptValueFilesReadAsMissing) {
  HKEY k = Create("C");
  std::ofstream(KeyDirectory(k) + "/short") << "ab";
  RawValue v;
  EXPECT_EQ(ReadRawValue(k, "short", &v), ERROR_FILE_NOT_FOUND);
  RegCloseKey(k);
}

TEST_F(RegistryStoreTest, MachineRootOutsideTheTestDirIsRootOnly) {
  // The user root goes to XDG_CONFIG_HOME when no registry dir is set.
  ScopedEnv unset("ZIMBREL_REGISTRY_DIR", "");
  ScopedEnv xdg("XDG_CONFIG_HOME", m_dir.Path());
  EXPECT_EQ(RootDirectory(HKEY_CURRENT_USER), m_dir / "zimbrel/registry/HKEY_CURRENT_USER");
  EXPECT_EQ(RootDirectory(HKEY_CLASSES_ROOT), "/var/lib/zimbrel/registry/HKEY_CLASSES_ROOT");
}

// The default value is the file "@"; a value named "@" is the file "%40".
// Enumeration, reading and deletion never take one for the other, and a file
// whose name this store would not have written (here "%2f" for "/") is no
// value at all.
TEST_F(RegistryStoreTest, TheDefaultValueAndAValueNamedAtStayApart) {
  HKEY k = Create("D");
  const BYTE d[] = {'d'}, at[] = {'a', 't'};
  ASSERT_EQ(RegSetValueExA(k, nullptr, 0, REG_BINARY, d, 1), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(k, "@", 0, REG_BINARY, at, 2), ERROR_SUCCESS);
  std::string keyDir = KeyDirectory(k);
  EXPECT_EQ(FileBytes(keyDir + "/@"), std::string("\x03\0\0\0d", 5));
  EXPECT_EQ(FileBytes(keyDir + "/%40"), std::string("\x03\0\0\0at", 6));
  std::ofstream(keyDir + "/a%2fb", std::ios::binary) << std::string("\x03\0\0\0x", 5);
  EXPECT_EQ(ListValues(k), (std::vector<std::string>{"", "@"}));
  std::vector<std::pair<std::string, std::string>> seen;
  for (DWORD i = 0;; ++i) {
    char name[16];
    BYTE data[16];
    DWORD cch = sizeof name, cb = sizeof data;
    if (RegEnumValueA(k, i, name, &cch, nullptr, nullptr, data, &cb) != ERROR_SUCCESS) break;
    seen.emplace_back(name, std::string(reinterpret_cast<char*>(data), cb));
  }
  EXPECT_EQ(seen, (std::vector<std::pair<std::string, std::string>>{{"", "d"}, {"@", "at"}}));
  ASSERT_EQ(RegDeleteValueA(k, "@"), ERROR_SUCCESS);
  EXPECT_EQ(ListValues(k), std::vector<std::string>{""});
  EXPECT_EQ(RegDeleteValueA(k, "@"), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegSetValueExA(k, "@", 0, REG_BINARY, at, 2), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteValueA(k, ""), ERROR_SUCCESS);
  EXPECT_EQ(ListValues(k), std::vector<std::string>{"@"});
  ASSERT_EQ(RegSetValueExA(k, nullptr, 0, REG_BINARY, d, 1), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteTreeA(k, nullptr), ERROR_SUCCESS);  // empties the key: both go
  EXPECT_TRUE(ListValues(k).empty());
  EXPECT_TRUE(fs::is_empty(keyDir));
  RegCloseKey(k);
}

// Registration runs as root: a symbolic link planted in the store (by
// whoever can write there) must never lead a deletion or a write into the
// folder it points at. Links are removed as links, or refused as keys.
TEST_F(RegistryStoreTest, NoSymbolicLinkIsEverFollowed) {
  TempDir outside;
  std::string victim = outside / "victim";
  fs::create_directories(victim + "/inner");
  std::ofstream(victim + "/precious") << "keep";
  std::ofstream(victim + "/inner/deeper") << "keep";
  auto victimIntact = [&] {
    return FileBytes(victim + "/precious") == "keep" &&
           FileBytes(victim + "/inner/deeper") == "keep" &&
           std::distance(fs::directory_iterator(victim), fs::directory_iterator()) == 2;
  };
  HKEY t = Create("T\\A");
  RegCloseKey(t);
  t = Create("T");
  std::string tDir = KeyDirectory(t);
  fs::create_directory_symlink(victim, tDir + "/L");
  fs::create_directory_symlink(victim, tDir + "/A/evil");
  fs::create_symlink(victim + "/precious", tDir + "/v");

  // Not keys: neither opened nor created through, nor listed.
  HKEY k = nullptr;
  EXPECT_NE(RegOpenKeyExA(t, "L", 0, KEY_READ, &k), ERROR_SUCCESS);
  EXPECT_NE(RegCreateKeyExA(t, "L\\new", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(ListSubkeys(t), std::vector<std::string>{"A"});
  EXPECT_TRUE(ListValues(t).empty());
  EXPECT_EQ(RegDeleteKeyA(t, "L"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteTreeA(t, "L"), ERROR_FILE_NOT_FOUND);
  // A value written over a link replaces the link; a link is no value to delete.
  EXPECT_EQ(RegDeleteValueA(t, "v"), ERROR_FILE_NOT_FOUND);
  const BYTE one[] = {1};
  ASSERT_EQ(RegSetValueExA(t, "v", 0, REG_BINARY, one, 1), ERROR_SUCCESS);
  EXPECT_FALSE(fs::is_symlink(tDir + "/v"));
  EXPECT_TRUE(victimIntact());

  // A key whose folder was swapped for a link under an open handle.
  HKEY s = Create("T\\S");
  std::string sDir = KeyDirectory(s);
  fs::rename(sDir, tDir + "/S-away");
  fs::create_directory_symlink(victim, sDir);
  EXPECT_NE(RegSetValueExA(s, "planted", 0, REG_BINARY, one, 1), ERROR_SUCCESS);
  EXPECT_NE(RegCreateKeyExA(s, "sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTreeA(s, nullptr), ERROR_FILE_NOT_FOUND);
  RegCloseKey(s);
  EXPECT_TRUE(victimIntact());

  // The whole tree goes, links as links.
  ASSERT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, "T"), ERROR_SUCCESS);
  EXPECT_FALSE(fs::exists(fs::symlink_status(tDir)));
  EXPECT_TRUE(victimIntact());
  RegCloseKey(t);
}

// Without HOME (as under some service managers) the user's root comes from
// the password database, never from a shared folder such as /tmp.
TEST_F(RegistryStoreTest, WithoutHomeTheUsersRootComesFromThePasswordDatabase) {
  ScopedEnv unset("ZIMBREL_REGISTRY_DIR", std::nullopt);
  ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
  passwd* pw = ::getpwuid(::getuid());
  ASSERT_NE(pw, nullptr);
  const std::string expected =
      std::string(pw->pw_dir) + "/.config/zimbrel/registry/HKEY_CURRENT_USER";
  {
    ScopedEnv home("HOME", std::nullopt);
    EXPECT_EQ(RootDirectory(HKEY_CURRENT_USER), expected);
  }
  for (const char* bad : {"", "relative/home"}) {
    ScopedEnv home("HOME", bad);
    EXPECT_EQ(RootDirectory(HKEY_CURRENT_USER), expected) << bad;
  }
  ScopedEnv home("HOME", m_dir.Path());
  EXPECT_EQ(RootDirectory(HKEY_CURRENT_USER), m_dir / ".config/zimbrel/registry/HKEY_CURRENT_USER");
}

}  // namespace
}  // namespace zb::reg
