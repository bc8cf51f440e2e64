// The definition table: the text file beside the plug-in whose lines give
// the numbers of the drill block's records and the names that trigger it.
#ifndef NCDRILL_TABLE_DEFINITION_TABLE_H
#define NCDRILL_TABLE_DEFINITION_TABLE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ncdrill/ncdrill.h"

namespace ncdrill {

// One taken line of the table file.
struct TableEntry {
  std::string name;  // trigger name; may be empty (never triggers) and may end in blanks
  std::int32_t number = 0;
};

// Longest line the reader takes; a longer one is cut to this length and
// ends the reading.
constexpr std::size_t kMaxTableLine = 254;

// How the reader took one line of the file; used by the entry reader and by
// tools that explain a table to people.
enum class LineKind {
  kTaken,    // gave an entry
  kComment,  // first character is '#'
  kEmpty,    // empty, or starts with a NUL byte
};

// A line of the file as the reader saw it.
struct TableLine {
  std::string_view text;   // the line without its line end (CR LF or LF), NUL bytes included
  std::size_t lineNumber;  // 1-based
  bool overLong;  // the line was longer than kMaxTableLine: text is cut and reading stopped
};

// The number of a line as a 32-bit atol that clamps: leading white space
// (space, \t, \v, \f, \r), an optional sign, then decimal digits. 0 when no
// digits come first; saturates at INT32_MIN and INT32_MAX.
std::int32_t ParseLineNumber(std::string_view line) noexcept;

// The name of a line: the rest of the line from the first character that is
// not a blank, '+', ',', '-', '.' or a digit. Trailing blanks are kept.
std::string_view ParseLineName(std::string_view line) noexcept;

// Classifies a line; a NUL byte ends the line's text.
LineKind ClassifyLine(std::string_view line) noexcept;

// The part of a line before its first NUL byte.
std::string_view TextBeforeNul(std::string_view line) noexcept;

// Reads the file at `path` line by line and calls `onLine(const TableLine&)`
// for each line, until the end of the file, a read error or an over-long
// line. Returns false only when the file could not be opened. Lines are
// never kept: memory does not grow with the file. Exceptions thrown by
// `onLine` propagate.
template <typename OnLine>
bool ForEachTableLine(const char* path, OnLine&& onLine);

// Reads the table file at `path` into its entries, in file order. A file
// that cannot be opened gives no entries; a read error keeps the entries
// taken so far. Throws std::bad_alloc when memory runs out.
std::vector<TableEntry> ReadTableEntries(const char* path);

// The largest table number n with 0 <= n <= request, or -1 if there is
// none. Negative table numbers never qualify.
std::int32_t FindSlot(const std::vector<TableEntry>& entries, std::int32_t request) noexcept;

// The loaded table: its entries, and the host-visible chain of one record
// per entry ended by the terminal record. Records never move once loaded,
// so the object is neither copied nor moved.
class DefinitionTable {
 public:
  DefinitionTable() noexcept = default;
  DefinitionTable(const DefinitionTable&) = delete;
  DefinitionTable& operator=(const DefinitionTable&) = delete;

  // Reads the file at `path` and links the chain. Call once. Throws
  // std::bad_alloc when memory runs out; the table is then left empty.
  void Load(const char* path);

  const std::vector<TableEntry>& entries() const noexcept { return entries_; }
  std::vector<ChainRecord>& records() noexcept { return records_; }
  ChainRecord& terminalRecord() noexcept { return terminalRecord_; }
  // Where the host starts walking the chain: the first record, or the
  // terminal record when the table is empty.
  const ChainRecord* firstRecord() const noexcept {
    return records_.empty() ? &terminalRecord_ : records_.data();
  }
  std::int32_t FindSlot(std::int32_t request) const noexcept {
    return ncdrill::FindSlot(entries_, request);
  }

 private:
  std::vector<TableEntry> entries_;
  std::vector<ChainRecord> records_;
  ChainRecord terminalRecord_{0, 0.0f, nullptr};
};

// --- implementation detail of ForEachTableLine ---

// Buffered reader of a file descriptor that splits it into lines with the
// rules of the table file.
class TableLineReader {
 public:
  explicit TableLineReader(const char* path) noexcept;
  ~TableLineReader();
  TableLineReader(const TableLineReader&) = delete;
  TableLineReader& operator=(const TableLineReader&) = delete;

  bool IsOpen() const noexcept { return fd_ >= 0; }
  // The next line, or false at the end of the file, after a read error or
  // after an over-long line.
  bool Next(TableLine& line) noexcept;

 private:
  int Peek() noexcept;  // next byte, or -1 at end or error
  void Fill() noexcept;

  int fd_ = -1;
  bool done_ = false;
  std::size_t lineNumber_ = 0;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  char line_[kMaxTableLine + 1] = {};
  char buffer_[16384] = {};
};

template <typename OnLine>
bool ForEachTableLine(const char* path, OnLine&& onLine) {
  TableLineReader reader(path);
  if (!reader.IsOpen()) return false;
  TableLine line{};
  while (reader.Next(line)) onLine(static_cast<const TableLine&>(line));
  return true;
}

}  // namespace ncdrill

#endif
