// A writer killed with SIGKILL at random moments never leaves a torn or empty
// value: every value file holds the old or the new bytes, and the temporary
// files a kill leaves are skipped by reads and enumeration and swept by the
// next write or start. ZIMBREL_KILL_LOOPS sets the number of kills (1000 for
// the full run; CI runs fewer).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "settings/registry.h"
#include "temp_dir.h"

namespace zb {
namespace {

using testing::ScopedEnv;
using testing::TempDir;

std::string Bytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// Values large enough that a torn write would show.
std::string Payload(char c) {
  return std::string(64 * 1024, c);
}

TEST(SettingsKill, KilledWritersLeaveOldOrNewBytesAndSweepableTemporaries) {
  TempDir dir;
  ScopedEnv env("ZIMBREL_REGISTRY_DIR", dir.Path());
  const char* loopsEnv = std::getenv("ZIMBREL_KILL_LOOPS");
  const int loops = loopsEnv ? std::atoi(loopsEnv) : 150;
  const std::string keyDir = dir / "HKEY_CURRENT_USER/Software/Zimbrel";
  const std::string oldBytes = std::string("\x03\0\0\0", 4) + Payload('o');
  const std::string newBytes = std::string("\x03\0\0\0", 4) + Payload('n');
  {
    std::fflush(stdout);
    registry r("Software\\Zimbrel", reg::Root::kCurrentUser);
    registry::value a(r, "ZBName"), b(r, "ZBPhone");
    a.set(Payload('o'));
    b.set(Payload('o'));
  }
  std::mt19937 rng(12345);
  int killedMidWrite = 0;
  for (int i = 0; i < loops; ++i) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // The writer: its trace goes nowhere; it stores values until killed.
      if (!std::freopen("/dev/null", "w", stdout)) ::_exit(2);
      registry r("Software\\Zimbrel", reg::Root::kCurrentUser);
      registry::value a(r, "ZBName"), b(r, "ZBPhone");
      for (int n = 0;; ++n) {
        a.set(Payload(n % 2 ? 'n' : 'o'));
        b.set(Payload(n % 2 ? 'o' : 'n'));
      }
    }
    ::usleep(std::uniform_int_distribution<int>(0, 3000)(rng));
    ::kill(pid, SIGKILL);
    int st;
    ::waitpid(pid, &st, 0);
    for (const char* name : {"ZBName", "ZBPhone"}) {
      std::string bytes = Bytes(keyDir + "/" + name);
      ASSERT_TRUE(bytes == oldBytes || bytes == newBytes)
          << name << " torn after kill " << i << " (" << bytes.size() << " bytes)";
    }
    // Leftover temporaries are never seen as values.
    bool leftover = false;
    for (auto& e : std::filesystem::directory_iterator(keyDir))
      if (e.path().filename().string()[0] == '.') leftover = true;
    killedMidWrite += leftover;
    {
      reg::HKEY k = nullptr;
      ASSERT_EQ(
          reg::RegOpenKeyExA(reg::HKEY_CURRENT_USER, "Software\\Zimbrel", 0, reg::KEY_READ, &k),
          reg::ERROR_SUCCESS);
      EXPECT_EQ(reg::ListValues(k), (std::vector<std::string>{"ZBName", "ZBPhone"}));
      reg::RegCloseKey(k);
    }
  }
  // The next start sweeps what the kills left.
  ::testing::internal::CaptureStdout();
  { registry r("Software\\Zimbrel", reg::Root::kCurrentUser); }
  ::testing::internal::GetCapturedStdout();
  for (auto& e : std::filesystem::directory_iterator(keyDir))
    EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
  std::printf("%d of %d kills left a temporary file behind\n", killedMidWrite, loops);
}

}  // namespace
}  // namespace zb
