// The child-tool runner: starts a command-line tool (ffmpeg, mp3gain) from
// an argv vector, never through a shell, drains its output and judges how it
// ended.
//
// The child gets, as standard input, an empty pipe whose write end the runner
// closes at once, and one pipe for both standard output and standard error;
// every other descriptor is closed in the child, whatever the program,
// libcurl, libcdio or GLib left open (and every descriptor the runner makes
// is close-on-exec as well). The output is read in pieces of up to 512
// bytes, shown to `output` and discarded; the runner asks `cancelled` after
// every read that returned data and whenever the output has been silent for
// 20 ms, so a cancel is seen at once even when the tool writes nothing (it
// waits on an input that does not come, or it is stopped).
//
// No child outlives the program: each is killed by the kernel when the
// program ends, however it ends (kill -9 included), and one whose program
// died while it was being started ends before it runs the tool.
//
// Outcomes: ok when the output ended and the child exited with 0; else a
// ToolFailure:
// - kNotStarted: no pipe, the program is missing, not executable or refused
//   by exec, or the start was refused (the program is ending, or the run
//   belongs to a job that a newer start of its kind has replaced). No child
//   exists. Detail: the errno of the step that failed (ECANCELED when
//   refused).
// - kExitedWithError: the output ended and the child exited with the code in
//   the detail (-1 when its status was taken by someone else).
// - kSignalled: the child was killed by the signal in the detail.
// - kEnded: the runner killed the child (EndEarlierChildren, EndAllChildren);
//   detail: the signal.
// - kLeftRunning: `cancelled` answered true. The child is not terminated: a
//   detached reaper keeps draining its output (so it never blocks on, or dies
//   of, a full or closed pipe in the middle of writing a file) and reaps it
//   when it ends. The runner returns at once. With `endOnCancel` the child is
//   killed instead (its leftovers removed) and reaped before the runner
//   returns: for a tool whose work is of no use once cancelled.
// Every child is reaped exactly once, by the runner or by the reaper; nothing
// (descriptor, zombie) is left behind. Why a tool failed is for the user on
// standard error (NoticeToolFailure); the pages get the job's status only.
//
// Every child is known to the runner from its start until it has been
// reaped, with the job kind and generation of its run, so that the next
// start of a kind (EndEarlierChildren) and the program's end
// (EndAllChildren) can end it; a child is signalled only while it is known,
// that is before it has been reaped, so a reused process id is never hit.
// A child that ends by a signal leaves its `leftovers` (the files it may
// have half written) removed before it counts as gone.
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

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/outcome.h"

namespace zb::media {

enum class ToolFailure { kNotStarted, kExitedWithError, kSignalled, kLeftRunning, kEnded };
using ToolResult = Outcome<ToolFailure>;

struct ToolRun {
  std::string program;              // path of the tool; also its argv[0]
  std::vector<std::string> args;    // argv[1...], passed as they are
  std::function<bool()> cancelled;  // may be empty: never cancelled
  std::function<void(pid_t)> started;
  std::function<void(pid_t)> ending;
  // May be empty. Sees each piece of output the runner reads, in order, on
  // the calling thread (not what the reaper drains after a cancel).
  std::function<void(std::string_view)> output;
  // The job kind and generation the child belongs to (kind < 0: none).
  int kind = -1;
  uint64_t generation = 0;
  // Files the child may leave half written: removed when the child ends by a
  // signal, each only if it was written since the child started.
  std::vector<std::string> leftovers;
  bool endOnCancel = false;
};

// Runs the tool on the calling thread; blocks until its output has ended and
// it has exited, or until a cancel.
ToolResult RunTool(const ToolRun& run);

// Why the run of `program` failed, for a person: "ffmpeg exited with 1",
// "mp3gain could not be started: No such file or directory", "ffmpeg was
// killed by signal 11 (Segmentation fault)". "" when the run succeeded or
// nothing went wrong with the tool: the run was cancelled, refused (the
// program is ending, or a newer start replaced the job) or ended by the
// runner.
std::string ToolFailureText(std::string_view program, const ToolResult& result);
// Tells standard error ToolFailureText, as one "zimbrel: ..." line (Notice),
// when there is one.
void NoticeToolFailure(std::string_view program, const ToolResult& result);

// Children handed to the reaper after a cancel that have not ended yet.
int ChildrenAwaitingReap();

// The next start of a kind: kills every child of `kind` from an earlier
// generation (a cancelled job's child that runs on, or the child of a job
// that this start replaced), refuses later starts of those generations, and
// waits until each of them has been reaped and its leftovers removed (at
// most `timeoutMs`). True when none is left.
bool EndEarlierChildren(int kind, uint64_t generation, int timeoutMs = 5000);

// The program's end: refuses every later start, kills every child still
// running and waits until all have been reaped and their leftovers removed
// (at most `timeoutMs`). True when none is left.
bool EndAllChildren(int timeoutMs);
// Test hook: lets children start again after EndAllChildren.
void AllowChildrenForTesting();
// Test hook: children forked from now on wait `ms` before they ask to end
// with the program (0: no wait), which opens the window in which the
// program may die during a start.
void DelayChildStartForTesting(int ms);

}  // namespace zb::media
