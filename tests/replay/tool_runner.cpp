#include "tool_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>

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

namespace {

// The environment of this process, with NO_COLOR set to `noColor` or
// removed when it is null.
std::vector<std::string> EnvironmentWith(const char* noColor) {
  std::vector<std::string> env;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    if (std::string_view(*variable).rfind("NO_COLOR=", 0) != 0) env.emplace_back(*variable);
  }
  if (noColor != nullptr) env.push_back(std::string("NO_COLOR=") + noColor);
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Runs the tool with the file actions given and waits for it.
ToolRun Spawn(const std::vector<std::string>& args, posix_spawn_file_actions_t& actions,
              std::vector<std::string> env) {
  std::vector<std::string> argv{ReplayTool()};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> argvPointers = Pointers(argv);
  std::vector<char*> envPointers = Pointers(env);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, argvPointers.data(),
                                  envPointers.data());
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
  run.maxRssKiB = usage.ru_maxrss;
  return run;
}

std::vector<std::string> CurrentEnvironment() {
  std::vector<std::string> env;
  for (char** variable = environ; *variable != nullptr; ++variable) env.emplace_back(*variable);
  return env;
}

}  // namespace

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
  ToolRun run = Spawn(args, actions, CurrentEnvironment());
  run.out = ReadFile(outFile);
  run.err = ReadFile(errFile);
  return run;
}

ToolRun RunReplayOnTerminal(const std::vector<std::string>& args, const char* noColor) {
  TempFolder folder;
  const std::string errFile = folder.path() + "err";
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    throw std::runtime_error("no pseudo-terminal");
  }
  const std::string terminal = ptsname(master);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, terminal.c_str(), O_RDWR | O_NOCTTY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  ToolRun run = Spawn(args, actions, EnvironmentWith(noColor));
  // The tool has ended; what it wrote waits in the terminal (small outputs
  // only: a full terminal buffer would have blocked it).
  char buffer[4096];
  for (ssize_t got; (got = ::read(master, buffer, sizeof buffer)) > 0;) run.out.append(buffer, got);
  ::close(master);
  run.err = ReadFile(errFile);
  return run;
}

}  // namespace ncdrill_test
