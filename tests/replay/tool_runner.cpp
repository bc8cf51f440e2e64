#include "tool_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "plugin_host.h"

extern char** environ;

namespace ncdrill_test {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::string ReplayTool() { return NCDRILL_REPLAY_FILE; }

std::string ReplayFolder() {
  const std::string tool = ReplayTool();
  return tool.substr(0, tool.rfind('/') + 1);
}

std::string ExamplesFolder() { return NCDRILL_EXAMPLES_DIR "/"; }

ToolRun RunReplay(const std::vector<std::string>& args, const std::string& input) {
  TempFolder folder;
  const std::string outFile = folder.path() + "out";
  const std::string errFile = folder.path() + "err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  std::vector<std::string> argv{ReplayTool()};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (std::string& arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  pid_t pid = 0;
  const int spawned =
      posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + argv[0]);
  int wstatus = 0;
  struct rusage usage {};
  while (wait4(pid, &wstatus, 0, &usage) < 0) {
    if (errno != EINTR) throw std::runtime_error("wait4 failed");
  }
  ToolRun run;
  run.exited = WIFEXITED(wstatus);
  run.status = run.exited ? WEXITSTATUS(wstatus) : -1;
  run.out = ReadFile(outFile);
  run.err = ReadFile(errFile);
  run.maxRssKiB = usage.ru_maxrss;
  return run;
}

}  // namespace ncdrill_test
