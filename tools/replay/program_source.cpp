#include "program_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ncdrill_replay {
namespace {

// Programs are read as bytes: line ends and every other byte are the
// reader's to judge, on every system.
#if defined(_WIN32)
constexpr int kOpenFlags = O_RDONLY | O_BINARY;
#else
constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC;
#endif

bool IsFolder(int fd) {
  struct stat status {};
  return ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode);
}

// The program as error messages name it.
std::string Described(const std::string& path) { return path == "-" ? "standard input" : path; }

}  // namespace

std::vector<Program> ProgramsOf(const Options& options) {
  std::vector<Program> programs;
  if (!options.blocks.empty()) {
    programs.push_back(Program{"<block>", "", &options.blocks});
    return programs;
  }
  for (const std::string& file : options.files) {
    programs.push_back(Program{file == "-" ? "<stdin>" : file, file, nullptr});
  }
  return programs;
}

BlockSource::~BlockSource() {
  if (ownsFd_ && fd_ >= 0) ::close(fd_);
}

bool BlockSource::Open(const Program& program, std::string& error) {
  program_ = &program;
  if (program.blocks != nullptr) return true;
  ownsFd_ = program.path != "-";
  fd_ = ownsFd_ ? ::open(program.path.c_str(), kOpenFlags) : STDIN_FILENO;
  if (fd_ < 0) {
    error = "cannot open " + Described(program.path) + ": " + std::strerror(errno);
    return false;
  }
  if (IsFolder(fd_)) {
    error = "cannot read " + Described(program.path) + ": " + std::strerror(EISDIR);
    return false;
  }
  reader_ = std::make_unique<ProgramReader>(fd_);
  return true;
}

bool BlockSource::Next(std::size_t& line, std::string_view& text, std::string& error) {
  if (program_->blocks != nullptr) {
    if (nextBlock_ == program_->blocks->size()) return false;
    text = (*program_->blocks)[nextBlock_++];
    line = nextBlock_;
    return true;
  }
  switch (reader_->Next(text)) {
    case ProgramReader::Status::kLine:
      line = reader_->lineNumber();
      return true;
    case ProgramReader::Status::kEnd:
      return false;
    case ProgramReader::Status::kError:
      error = "cannot read " + Described(program_->path) + ": " + std::strerror(reader_->error());
      return false;
    case ProgramReader::Status::kTooLong:
      error = Described(program_->path) + ": line " + std::to_string(reader_->lineNumber()) +
              " is longer than a block can be (" + std::to_string(ProgramReader::kMaxLine) +
              " bytes)";
      return false;
  }
  return false;
}

bool StandardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

}  // namespace ncdrill_replay
