// Runs ncdrill-replay as a separate process, as a person or a script does.
#ifndef NCDRILL_TESTS_REPLAY_TOOL_RUNNER_H
#define NCDRILL_TESTS_REPLAY_TOOL_RUNNER_H

#include <string>
#include <vector>

namespace ncdrill_test {

struct ToolRun {
  bool exited = false;  // false when a signal ended the process
  int status = -1;      // exit status
  std::string out;
  std::string err;
  long maxRssKiB = 0;  // peak resident memory
};

// Runs the built ncdrill-replay with `args`, standard input from `input`.
ToolRun RunReplay(const std::vector<std::string>& args, const std::string& input = "/dev/null");

// The same with standard output on a terminal (a pseudo-terminal), and with
// NO_COLOR set to `noColor` or, when it is null, unset. The terminal turns
// each line feed into CR LF.
ToolRun RunReplayOnTerminal(const std::vector<std::string>& args, const char* noColor);

// The built tool, its folder (ending with '/') and the project's examples.
std::string ReplayTool();
std::string ReplayFolder();
std::string ExamplesFolder();

}  // namespace ncdrill_test

#endif
