// Stands in for the program in the tests of what becomes of a tool child
// when the program is killed: starts one tool as a job does and waits for
// it. Prints the tool's pid once it runs.
//   media_tool_holder <start delay in ms> <tool> [arguments...]
#include <cstdio>
#include <cstdlib>

#include "media/tool_runner.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  zb::media::DelayChildStartForTesting(std::atoi(argv[1]));
  zb::media::ToolRun run;
  run.program = argv[2];
  for (int i = 3; i < argc; ++i) run.args.push_back(argv[i]);
  run.started = [](pid_t pid) {
    std::printf("%d\n", static_cast<int>(pid));
    std::fflush(stdout);
  };
  return zb::media::RunTool(run).Ok() ? 0 : 1;
}
