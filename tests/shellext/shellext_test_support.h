// Shared helpers of the file-manager extension tests: a temporary registry
// with the machine keys provisioned, ZBInstDir, a fake program that records
// its arguments, and paths of the built libraries.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry_store.h"
#include "settings/registry.h"
#include "temp_dir.h"

namespace zb::testing {

inline constexpr char kApprovalKeyPath[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

// The machine key that registration only opens (the system install step
// creates it).
inline void ProvisionApprovalKey() {
  reg::HKEY key = nullptr;
  reg::RegCreateKeyExA(reg::HKEY_LOCAL_MACHINE, kApprovalKeyPath, 0, nullptr, 0,
                       reg::KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (key) reg::RegCloseKey(key);
}

// What the main program writes at every start.
inline void WriteInstDir(const std::string& dir) {
  registry settings("Software\\Zimbrel", reg::Root::kCurrentUser);
  registry::value instDir(settings, "ZBInstDir");
  instDir.set(dir);
}

// A fake `zimbrel` in `dir` that writes its argv, one NUL-ended entry each,
// to `record` (through a temporary file, so a reader sees all or nothing).
inline void MakeFakeProgram(const std::string& dir, const std::string& record) {
  std::filesystem::create_directories(dir);
  std::string path = dir + "/zimbrel";
  std::ofstream f(path);
  f << "#!/bin/sh\n"
       "out='"
    << record
    << "'\n"
       "for a in \"$0\" \"$@\"; do printf '%s\\0' \"$a\"; done > \"$out.tmp\"\n"
       "mv \"$out.tmp\" \"$out\"\n";
  f.close();
  ::chmod(path.c_str(), 0755);
}

// Waits (bounded) for the fake program's record; empty when it never came.
inline std::vector<std::string> WaitForRecord(
    const std::string& record, std::chrono::seconds limit = std::chrono::seconds(20)) {
  auto until = std::chrono::steady_clock::now() + limit;
  while (!std::filesystem::exists(record)) {
    if (std::chrono::steady_clock::now() > until) return {};
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::ifstream f(record, std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(f)), {});
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t i = 0; i < all.size(); ++i)
    if (all[i] == '\0') {
      out.push_back(all.substr(start, i - start));
      start = i + 1;
    }
  return out;
}

// Every file below `root` with its bytes: a registry's whole state.
inline std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> out;
  if (!std::filesystem::exists(root)) return out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    std::string rel = e.path().string().substr(root.size());
    if (e.is_directory()) {
      out[rel + "/"] = "";
    } else {
      std::ifstream f(e.path(), std::ios::binary);
      out[rel] = std::string((std::istreambuf_iterator<char>(f)), {});
    }
  }
  return out;
}

// Runs `cmd` with /bin/sh; its exit status, -1 when it did not exit.
inline int Shell(const std::string& cmd) {
  int status = std::system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// `s` as one single-quoted shell word.
inline std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Whether this process has the library at `path` mapped (loaded).
inline bool LibraryMapped(const std::string& path) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
    if (line.size() >= path.size() &&
        line.compare(line.size() - path.size(), path.size(), path) == 0)
      return true;
  return false;
}

inline std::string FileBytes(const std::string& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), {});
}

// A REG_SZ value file's contents for `text` (type 1, UTF-16LE, zero unit).
inline std::string RegSzFile(const std::string& text) {
  std::string out("\x01\0\0\0", 4);
  for (char c : text) {
    out.push_back(c);
    out.push_back('\0');
  }
  out.append(2, '\0');
  return out;
}

}  // namespace zb::testing
