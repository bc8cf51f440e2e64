// Reads an NC program one line at a time, in a buffer that grows only with
// the longest line, never with the program.
#ifndef NCDRILL_TOOLS_REPLAY_PROGRAM_READER_H
#define NCDRILL_TOOLS_REPLAY_PROGRAM_READER_H

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

namespace ncdrill_replay {

class ProgramReader {
 public:
  // The longest line a block can hold: InterpretBlock takes a 32-bit length.
  static constexpr std::size_t kMaxLine = std::numeric_limits<std::int32_t>::max();

  enum class Status {
    kLine,     // `line` holds the next line
    kEnd,      // no more lines
    kError,    // a read failed: error() is its errno
    kTooLong,  // a line is longer than maxLine
  };

  // Reads `fd`, which the caller keeps open and closes. `initialBuffer` and
  // `maxLine` are for tests.
  explicit ProgramReader(int fd, std::size_t initialBuffer = 64 * 1024,
                         std::size_t maxLine = kMaxLine);

  // The next line without its line end: a line feed, or a carriage return
  // and a line feed. Any other carriage return stays in the line. A last
  // line without a line feed is a line; an empty file has none. `line`
  // points into the reader's buffer and is valid until the next call.
  // Throws std::bad_alloc when the buffer cannot grow for a long line.
  Status Next(std::string_view& line);

  int error() const noexcept { return error_; }
  std::size_t lineNumber() const noexcept { return lineNumber_; }  // 1-based; of the last line

 private:
  // Makes room and reads more bytes. False at the end of the input, after a
  // read error (error_ set) or when a line outgrows maxLine_ (tooLong_ set).
  bool Refill();
  std::string_view Take(std::size_t length, std::size_t skip) noexcept;

  int fd_;
  std::size_t maxLine_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;    // first unread byte
  std::size_t end_ = 0;      // one past the last byte read
  std::size_t scanned_ = 0;  // bytes after begin_ known to hold no line feed
  bool atEnd_ = false;
  bool tooLong_ = false;
  int error_ = 0;
  std::size_t lineNumber_ = 0;
};

}  // namespace ncdrill_replay

#endif
