// The programs a run takes: files ("-" for standard input), or the blocks
// given on the command line, and the blocks they hold one line each.
#ifndef NCDRILL_TOOLS_REPLAY_PROGRAM_SOURCE_H
#define NCDRILL_TOOLS_REPLAY_PROGRAM_SOURCE_H

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "options.h"
#include "program_reader.h"

namespace ncdrill_replay {

struct Program {
  std::string name;  // as findings name it: the path, "<stdin>" or "<block>"
  std::string path;  // the file to read ("-": standard input); empty for blocks
  const std::vector<std::string>* blocks = nullptr;  // the --block texts
};

// The programs of the command line, in the order given.
std::vector<Program> ProgramsOf(const Options& options);

class BlockSource {
 public:
  BlockSource() = default;
  ~BlockSource();
  BlockSource(const BlockSource&) = delete;
  BlockSource& operator=(const BlockSource&) = delete;

  // Opens the program. Returns false, with `error` set, when its file
  // cannot be read.
  bool Open(const Program& program, std::string& error);

  // The next block, without its line end, and its 1-based line. Returns
  // false at the end of the program, and after a read error or a line too
  // long for a block, with `error` set. `text` is valid until the next call.
  bool Next(std::size_t& line, std::string_view& text, std::string& error);

 private:
  const Program* program_ = nullptr;
  int fd_ = -1;
  bool ownsFd_ = false;
  std::unique_ptr<ProgramReader> reader_;
  std::size_t nextBlock_ = 0;
};

// Whether standard output is a terminal.
bool StandardOutputIsTerminal();

}  // namespace ncdrill_replay

#endif
