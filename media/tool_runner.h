// The child-tool runner: starts a command-line tool (ffmpeg, mp3gain) from
// an argv vector, never through a shell, drains its output and judges how it
// ended.
//
// The child gets, as standard input, an empty pipe whose write end the runner
// closes at once, and one pipe for both standard output and standard error.
// Every descriptor the runner makes is close-on-exec, so no other child (nor
// a child started by another thread at the same moment) inherits one. The
// output is read in pieces of up to 512 bytes, shown to `output` and
// discarded; after every read that returned data the runner asks `cancelled`.
//
// Outcomes:
// - kNotStarted: no pipe, or the program is missing, not executable or
//   refused by exec. No child exists.
// - kExited: the output ended and the child exited with `exitCode`.
// - kSignalled: the child was killed by `signal`. Always a failure.
// - kLeftRunning: `cancelled` answered true. The child is not terminated: a
//   detached reaper keeps draining its output (so it never blocks on, or dies
//   of, a full or closed pipe in the middle of writing a file) and reaps it
//   when it ends. The runner returns at once.
// Every child is reaped exactly once, by the runner or by the reaper; nothing
// (descriptor, zombie) is left behind.
//
// Process-id contract (what makes ending a recorded child from another thread
// safe): `started(pid)` is called once the child runs, before the first read;
// `ending(pid)` is called exactly once for every started child, before the
// child is reaped and before it is handed to the reaper. A caller that
// records the id in `started` and removes it in `ending`, under the same lock
// that a killer holds while it reads the record and signals
// (JobState::SetProcessId/ClearProcessId/TerminateRecordedProcess), can never
// signal a reaped, possibly reused, process id: while the id is recorded the
// child is alive or a zombie, and a signal to a zombie does nothing.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zb::media {

enum class ToolOutcome { kNotStarted, kExited, kSignalled, kLeftRunning };

struct ToolResult {
  ToolOutcome outcome = ToolOutcome::kNotStarted;
  int exitCode = -1;  // kExited
  int signal = 0;     // kSignalled
  int error = 0;      // kNotStarted: the errno of the step that failed
  bool Succeeded() const { return outcome == ToolOutcome::kExited && exitCode == 0; }
};

struct ToolRun {
  std::string program;              // path of the tool; also its argv[0]
  std::vector<std::string> args;    // argv[1...], passed as they are
  std::function<bool()> cancelled;  // may be empty: never cancelled
  std::function<void(pid_t)> started;
  std::function<void(pid_t)> ending;
  // May be empty. Sees each piece of output the runner reads, in order, on
  // the calling thread (not what the reaper drains after a cancel).
  std::function<void(std::string_view)> output;
};

// Runs the tool on the calling thread; blocks until its output has ended and
// it has exited, or until a cancel.
ToolResult RunTool(const ToolRun& run);

// Children handed to the reaper after a cancel that have not ended yet.
int ChildrenAwaitingReap();

}  // namespace zb::media
