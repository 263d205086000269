// Helpers for the tool-job tests: a module directory with real or fake tools,
// fake tools written as shell scripts, audio made with sox, and process checks
// read from /proc.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "jobs/job_state.h"
#include "jobs/job_status.h"
#include "media/tool_runner.h"
#include "media/transcode.h"
#include "shell_output.h"
#include "temp_dir.h"

namespace zb::testing {

// A transcode's end as the status the pages read (1 done, 2 failed, 3 the
// work folder cannot be written), which the core publishes.
inline int32_t TranscodeStatusForPages(const media::TranscodeEnd& end) {
  if (end) return jobs::status::kTranscodeDone;
  return end.Reason() == media::TranscodeFailure::kCannotWrite ? jobs::status::kTranscodeCannotWrite
                                                               : jobs::status::kTranscodeFailed;
}

inline std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs a shell command line (test set-up only); returns its exit status.
inline int Sh(const std::string& cmd) {
  return std::system(cmd.c_str());
}

inline bool Exists(const std::string& p) {
  struct stat st;
  return ::lstat(p.c_str(), &st) == 0;
}

inline std::string ReadFile(const std::string& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

inline void WriteFile(const std::string& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

// Writes an executable shell script: it appends its arguments, one a line
// and then a line ".", to calls.log beside it, in one write (so a reader
// never sees half a call), and runs `body`. $d is the script's folder.
inline void WriteFakeTool(const std::string& path, const std::string& body) {
  WriteFile(path,
            "#!/bin/sh\n"
            "d=$(dirname \"$0\")\n"
            "rec=''\n"
            "for a; do rec=\"$rec$a\n\"; done\n"
            "printf '%s.\\n' \"$rec\" >> \"$d/calls.log\"\n" +
                body + "\n");
  ::chmod(path.c_str(), 0755);
}

// The recorded calls of a fake tool: one argument vector per call.
inline std::vector<std::vector<std::string>> FakeCalls(const std::string& resDir) {
  std::vector<std::vector<std::string>> calls(1);
  std::istringstream in(ReadFile(resDir + "/calls.log"));
  for (std::string line; std::getline(in, line);) {
    if (line == ".")
      calls.emplace_back();
    else
      calls.back().push_back(line);
  }
  calls.pop_back();
  return calls;
}

// A script body that prints every 10 ms until the file "go" appears beside
// it, writing its pid to "pid" first (under a temporary name, then renamed,
// so "pid" is whole once it exists); then goes on with what follows.
inline const char* kHangUntilGo =
    "echo $$ > \"$d/pid.tmp\" && mv \"$d/pid.tmp\" \"$d/pid\"\n"
    "while [ ! -e \"$d/go\" ]; do echo tick; sleep 0.01; done\n";

// A fake mp3gain's line: when the run is the analysis ("/s s /o /x <file>"),
// print what mp3gain prints for a file whose largest sample is `peak`.
inline std::string FakeMp3gainAnalysis(const std::string& peak = "1000") {
  return "if [ \"$4\" = /x ]; then printf 'File\\tMP3 gain\\tdB gain\\tMax Amplitude\\tMax "
         "global_gain\\tMin global_gain\\n%s\\t0\\t0.000000\\t" +
         peak + "\\t210\\t115\\n\"Album\"\\t0\\t0.000000\\t" + peak +
         "\\t210\\t115\\n' \"$5\"; fi\n";
}

// A module directory: <dir>/res with tmp/ in it.
struct ModuleDir {
  TempDir dir;
  std::string res = dir / "res";
  std::string tmp = dir / "res/tmp";
  ModuleDir() {
    ::mkdir(res.c_str(), 0755);
    ::mkdir(tmp.c_str(), 0755);
  }
  const std::string& Path() const { return dir.Path(); }
  void LinkTool(const std::string& name, const std::string& target) const {
    EXPECT_EQ(::symlink(target.c_str(), (res + "/" + name).c_str()), 0);
  }
  void FakeTool(const std::string& name, const std::string& body) const {
    WriteFakeTool(res + "/" + name, body);
  }
};

inline bool WaitUntil(const std::function<bool()>& cond, int timeoutMs = 10000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Children of this process, from /proc: pid and state letter.
inline std::vector<std::pair<int, char>> ChildProcesses() {
  std::vector<std::pair<int, char>> out;
  DIR* d = ::opendir("/proc");
  if (!d) return out;
  while (dirent* e = ::readdir(d)) {
    int pid = std::atoi(e->d_name);
    if (pid <= 0) continue;
    std::string stat = ReadFile("/proc/" + std::string(e->d_name) + "/stat");
    size_t r = stat.rfind(')');
    if (r == std::string::npos || r + 4 >= stat.size()) continue;
    char state = stat[r + 2];
    int ppid = std::atoi(stat.c_str() + r + 4);
    if (ppid == ::getpid()) out.emplace_back(pid, state);
  }
  ::closedir(d);
  return out;
}

inline int ZombieChildren() {
  int n = 0;
  for (auto& [pid, state] : ChildProcesses()) n += state == 'Z';
  return n;
}

inline int OpenFds() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (dirent* e = ::readdir(d)) n += e->d_name[0] != '.';
    ::closedir(d);
  }
  return n;
}

// Every job thread has ended and every child has been reaped.
inline bool AllSettled(int timeoutMs = 20000) {
  return jobs::WaitForJobThreadsForTesting(timeoutMs) &&
         WaitUntil([] { return media::ChildrenAwaitingReap() == 0 && ChildProcesses().empty(); },
                   timeoutMs);
}

// Waits until the job of `kind` has left 0 (or the in-between values given).
inline int32_t AwaitFinal(const jobs::JobState& s, jobs::JobKind kind,
                          std::vector<int32_t> running = {0}, int timeoutMs = 60000) {
  int32_t v = 0;
  WaitUntil(
      [&] {
        v = s.Status(kind);
        for (int32_t r : running)
          if (v == r) return false;
        return true;
      },
      timeoutMs);
  return v;
}

// Integrated loudness (LUFS) measured by ffmpeg's ebur128 filter.
inline double Loudness(const std::string& file) {
  std::string out =
      ShOut("ffmpeg -nostdin -nostats -i " + ShellQuote(file) + " -af ebur128 -f null - 2>&1");
  size_t at = out.rfind("I:");
  return at == std::string::npos ? -999.0 : std::atof(out.c_str() + at + 2);
}

}  // namespace zb::testing
