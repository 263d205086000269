#include "platform/work_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "temp_dir.h"

namespace zb {
namespace {

namespace fs = std::filesystem;
using zb::testing::ScopedEnv;
using zb::testing::TempDir;

mode_t ModeOf(const std::string& p) {
  struct stat st {};
  ::lstat(p.c_str(), &st);
  return st.st_mode & 07777;
}

TEST(WorkFolderMap, OnlyThePagesWorkFilesMove) {
  WorkFolder w("/usr/lib/zimbrel", "/home/ann/.cache/zimbrel/tmp");
  EXPECT_EQ(w.Map("/usr/lib/zimbrel/res/tmp/ringtone-1.mp3"),
            "/home/ann/.cache/zimbrel/tmp/ringtone-1.mp3");
  EXPECT_EQ(w.Map("/usr/lib/zimbrel/res/tmp/a song #1 ü.wav"),
            "/home/ann/.cache/zimbrel/tmp/a song #1 ü.wav");
  for (const char* same :
       {"/home/ann/Music/song.mp3", "/usr/lib/zimbrel/res/tmp/", "/usr/lib/zimbrel/res/tmp",
        "/usr/lib/zimbrel/res/tmpx/a.mp3", "/usr/lib/zimbrel/res/selectSong.html",
        "usr/lib/zimbrel/res/tmp/a", "/opt/usr/lib/zimbrel/res/tmp/a.mp3", ""})
    EXPECT_EQ(w.Map(same), same);
  // No way out of the work folder through dot segments.
  for (const char* dots : {"/usr/lib/zimbrel/res/tmp/../zimbrel", "/usr/lib/zimbrel/res/tmp/..",
                           "/usr/lib/zimbrel/res/tmp/./a", "/usr/lib/zimbrel/res/tmp/a/../../b"})
    EXPECT_EQ(w.Map(dots), dots);
  EXPECT_EQ(w.Map("/usr/lib/zimbrel/res/tmp/a..b.mp3"), "/home/ann/.cache/zimbrel/tmp/a..b.mp3");

  // A module directory of one's own keeps its res/tmp.
  WorkFolder own("/home/ann/zimbrel");
  EXPECT_EQ(own.Path(), "/home/ann/zimbrel/res/tmp");
  EXPECT_EQ(own.Map("/home/ann/zimbrel/res/tmp/r.mp3"), "/home/ann/zimbrel/res/tmp/r.mp3");
}

class UserWorkFolder : public ::testing::Test {
 protected:
  TempDir m_dir;
  ScopedEnv m_home{"HOME", m_dir / "home"};
  ScopedEnv m_cache{"XDG_CACHE_HOME", m_dir / "cache"};
  ScopedEnv m_tmp{"TMPDIR", m_dir / "tmp"};
  std::string m_cacheFolder = m_dir / "cache/zimbrel/tmp";
  std::string m_tmpFolder = m_dir / ("tmp/zimbrel-" + std::to_string(::geteuid()));
  void SetUp() override { fs::create_directories(m_dir / "tmp"); }
};

TEST_F(UserWorkFolder, IsMadePrivateInTheUsersCache) {
  auto c = ChooseUserWorkFolder();
  EXPECT_TRUE(c.usable);
  EXPECT_EQ(c.path, m_cacheFolder);
  EXPECT_EQ(ModeOf(m_cacheFolder), 0700u);
  EXPECT_EQ(ModeOf(m_dir / "cache/zimbrel"), 0700u);

  // A folder left open to others is closed again; files in it stay.
  std::ofstream(m_cacheFolder + "/kept.mp3") << "x";
  ::chmod(m_cacheFolder.c_str(), 0777);
  EXPECT_TRUE(ChooseUserWorkFolder().usable);
  EXPECT_EQ(ModeOf(m_cacheFolder), 0700u);
  EXPECT_TRUE(fs::exists(m_cacheFolder + "/kept.mp3"));

  // Cleared while the program runs: made again.
  fs::remove_all(m_dir / "cache");
  EXPECT_TRUE(PrepareWorkFolder(m_cacheFolder));
  EXPECT_EQ(ModeOf(m_cacheFolder), 0700u);
}

TEST_F(UserWorkFolder, WithoutAHomeOrCacheTheSystemTemporaryFolderServes) {
  // The cache cannot be made (a file stands where a folder should be).
  std::ofstream(m_dir / "cache") << "not a folder";
  auto c = ChooseUserWorkFolder();
  EXPECT_TRUE(c.usable);
  EXPECT_EQ(c.path, m_tmpFolder);
  EXPECT_EQ(ModeOf(m_tmpFolder), 0700u);
}

TEST_F(UserWorkFolder, ARelativeCacheVariableIsIgnored) {
  ScopedEnv relative("XDG_CACHE_HOME", "relative/cache");
  auto c = ChooseUserWorkFolder();
  EXPECT_TRUE(c.usable);
  EXPECT_EQ(c.path, m_dir / "home/.cache/zimbrel/tmp");
}

TEST_F(UserWorkFolder, ALinkOrSomeoneElsesFolderIsNeverUsed) {
  std::ofstream(m_dir / "cache") << "not a folder";
  fs::create_directories(m_dir / "elsewhere");
  fs::create_symlink(m_dir / "elsewhere", m_tmpFolder);
  auto c = ChooseUserWorkFolder();
  EXPECT_FALSE(c.usable);
  EXPECT_EQ(c.path, m_cacheFolder);  // where it would be, so the jobs report it
  EXPECT_TRUE(fs::is_empty(m_dir / "elsewhere"));

  if (::geteuid() != 0) GTEST_SKIP() << "making another user's folder needs root";
  fs::remove(m_tmpFolder);
  fs::create_directory(m_tmpFolder);
  ASSERT_EQ(::chown(m_tmpFolder.c_str(), 4242, 4242), 0);
  ::chmod(m_tmpFolder.c_str(), 0777);
  EXPECT_FALSE(ChooseUserWorkFolder().usable);
  EXPECT_EQ(ModeOf(m_tmpFolder), 0777u);  // not touched
}

}  // namespace
}  // namespace zb

namespace zb {
namespace {

namespace fs = std::filesystem;

// A program without a session bus works in a run folder of its own: made
// private and locked, gone with the program, and swept by a later start only
// when the program that made it is gone (its lock free). A sweep follows no
// link and leaves what is not a run folder.
TEST(RunWorkFolder, IsThisProgramsAloneAndGoesWithIt) {
  testing::TempDir dir;
  const std::string user = dir.Path();
  std::string kept;
  {
    RunWorkFolder mine;
    ASSERT_TRUE(mine.Make(user));
    kept = mine.Path();
    EXPECT_EQ(fs::path(kept).parent_path(), fs::path(user));
    EXPECT_EQ(fs::path(kept).filename().string().rfind("run-", 0), 0u);
    EXPECT_EQ(fs::status(kept).permissions() & fs::perms::all, fs::perms::owner_all);
    std::ofstream(kept + "/ring.mp3") << "made";
    // Another start sweeps: a folder whose program is running stays.
    RunWorkFolder other;
    ASSERT_TRUE(other.Make(user));
    EXPECT_NE(other.Path(), kept);
    EXPECT_TRUE(fs::exists(kept + "/ring.mp3"));
  }
  EXPECT_FALSE(fs::exists(kept));
  EXPECT_TRUE(fs::is_empty(user));
}

TEST(RunWorkFolder, ASweepTakesOnlyFoldersOfKilledPrograms) {
  testing::TempDir dir, outside;
  const std::string user = dir.Path();
  std::ofstream(outside.Path() + "/precious") << "keep";
  // Left by a killed program: lock free, files and a link inside.
  fs::create_directory(user + "/run-killed");
  std::ofstream(user + "/run-killed/.lock");
  std::ofstream(user + "/run-killed/ring.mp3") << "old";
  fs::create_symlink(outside.Path() + "/precious", user + "/run-killed/link.mp3");
  // Not ours to take: no lock file, another name, a link named like a run.
  fs::create_directory(user + "/run-nolock");
  fs::create_directory(user + "/ringtones");
  std::ofstream(user + "/ring.mp3") << "the user's";
  fs::create_directory_symlink(outside.Path(), user + "/run-link");
  SweepLeftRunFolders(user);
  EXPECT_FALSE(fs::exists(user + "/run-killed"));
  EXPECT_TRUE(fs::exists(outside.Path() + "/precious"));
  EXPECT_TRUE(fs::exists(user + "/run-nolock"));
  EXPECT_TRUE(fs::exists(user + "/ringtones"));
  EXPECT_TRUE(fs::exists(user + "/ring.mp3"));
  EXPECT_TRUE(fs::is_symlink(user + "/run-link"));
  // A folder that cannot be written to makes no run folder.
  RunWorkFolder none;
  EXPECT_FALSE(none.Make(user + "/missing"));
  EXPECT_EQ(none.Path(), "");
}

}  // namespace
}  // namespace zb
