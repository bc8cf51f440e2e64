#include "replay.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "explain_table.h"
#include "plugin.h"
#include "program_reader.h"
#include "replay_host.h"
#include "report.h"

namespace ncdrill_replay {
namespace {

constexpr const char* kDefaultTableName = "VONDRIX_4.txt";

// Programs are read as bytes: line ends and every other byte are the
// reader's to judge, on every system.
#if defined(_WIN32)
constexpr int kOpenFlags = O_RDONLY | O_BINARY;
#else
constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC;
#endif

// The program's file descriptor; standard input is not closed.
class ProgramFile {
 public:
  explicit ProgramFile(const std::string& name)
      : fd_(name == "-" ? STDIN_FILENO : ::open(name.c_str(), kOpenFlags)), owned_(name != "-") {}
  ~ProgramFile() {
    if (owned_ && fd_ >= 0) ::close(fd_);
  }
  ProgramFile(const ProgramFile&) = delete;
  ProgramFile& operator=(const ProgramFile&) = delete;
  int fd() const noexcept { return fd_; }

 private:
  int fd_;
  bool owned_;
};

bool IsFolder(int fd) {
  struct stat status {};
  return ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode);
}

std::string ProgramName(const std::string& operand) {
  return operand == "-" ? "standard input" : operand;
}

std::string PluginPath(const Options& options) {
  return options.plugin ? *options.plugin : DefaultPluginPath();
}

const char* OrNull(const std::optional<std::string>& name) {
  return name ? name->c_str() : nullptr;
}

struct InterpreterDeleter {
  void operator()(Interpreter* interpreter) const { delete interpreter; }
};
using InterpreterPtr = std::unique_ptr<Interpreter, InterpreterDeleter>;

// Feeds every line of the program to the interpreter. Returns kExitOk, or
// kExitFailed with `error` set.
int FeedProgram(ProgramReader& reader, Interpreter& interpreter, ReplayHost& host,
                const std::string& program, std::string& error) {
  RunSummary& summary = host.summary();
  std::string_view line;
  for (;;) {
    switch (reader.Next(line)) {
      case ProgramReader::Status::kEnd:
        return kExitOk;
      case ProgramReader::Status::kError:
        error = "cannot read " + program + ": " + std::strerror(reader.error());
        return kExitFailed;
      case ProgramReader::Status::kTooLong:
        error = program + ": line " + std::to_string(reader.lineNumber()) +
                " is longer than a block can be (" + std::to_string(ProgramReader::kMaxLine) +
                " bytes)";
        return kExitFailed;
      case ProgramReader::Status::kLine:
        break;
    }
    host.SetBlock(reader.lineNumber(), line);
    ++summary.blocks;
    if (interpreter.InterpretBlock(line.data(), static_cast<std::int32_t>(line.size()))) {
      ++summary.returnedTrue;
    }
    if (host.failed()) {
      error = "out of memory while reporting line " + std::to_string(reader.lineNumber());
      return kExitFailed;
    }
  }
}

}  // namespace

int Replay(const Options& options, std::string& error) {
  const std::string program = ProgramName(options.operand);
  ProgramFile file(options.operand);
  if (file.fd() < 0) {
    error = "cannot open " + program + ": " + std::strerror(errno);
    return kExitFailed;
  }
  if (IsFolder(file.fd())) {
    error = "cannot read " + program + ": " + std::strerror(EISDIR);
    return kExitFailed;
  }
  Plugin plugin;
  if (!plugin.Open(PluginPath(options), error)) return kExitFailed;

  std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
  const std::unique_ptr<Reporter> reporter =
      MakeReporter(options.json ? Format::kJson : Format::kText, options.quiet, stdout);
  ReplayHost host(*reporter);
  const auto start = std::chrono::steady_clock::now();
  InterpreterPtr interpreter(plugin.getInterpreter()(host.table(), OrNull(options.definitionName),
                                                     OrNull(options.tableName)));
  if (!interpreter) {
    error = "the plug-in's GetInterpreter returned no interpreter (out of memory)";
    return kExitFailed;
  }
  ProgramReader reader(file.fd());
  const int status = FeedProgram(reader, *interpreter, host, program, error);
  interpreter.reset();
  if (status != kExitOk) return status;
  host.summary().seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  reporter->Summary(host.summary());
  return kExitOk;
}

int Explain(const Options& options, std::string& error) {
  std::string table = options.operand;
  if (table.empty()) {
    // The path the plug-in reads: its folder and the name, as it stands.
    const std::string name =
        options.tableName && !options.tableName->empty() ? *options.tableName : kDefaultTableName;
    table = FolderOf(AsLoadablePath(PluginPath(options))) + name;
  }
  return ExplainTable(table, stdout, error) ? kExitOk : kExitFailed;
}

}  // namespace ncdrill_replay
