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
#include "platform/input_file.h"

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

// The end-of-text byte (Ctrl-Z). Editors of DOS descent end text files
// with it, and a text stream on those systems ends there, so the table
// ends at its first Ctrl-Z on every system: the text before it on its line
// is the last line, and nothing after it is read.
constexpr char kEndOfText = '\x1A';

// Why the reading of a table stopped.
struct TableEnd {
  enum Kind {
    kEndOfFile,  // every line was read
    kReadError,  // a read failed (or the file could not be opened): the lines before it count
    kOverLong,   // a line was longer than kMaxTableLine: it is the last line taken, cut
    kEndOfText,  // a Ctrl-Z ended the file
  };
  Kind kind = kEndOfFile;
  // For kOverLong and kEndOfText: the 1-based line, and for kEndOfText the
  // 1-based column of the Ctrl-Z in it (its line may hold nothing else, and
  // then gives no TableLine).
  std::size_t line = 0;
  std::size_t column = 0;
};

// Reads `source` line by line and calls `onLine(const TableLine&)` for each
// line, until the end of the file, a read error, an over-long line or a
// Ctrl-Z. Lines are never kept: memory does not grow with the file.
// Exceptions thrown by `onLine` propagate.
template <typename OnLine>
TableEnd ForEachTableLine(platform::ByteSource& source, OnLine&& onLine);

// Calls `onEntry(TableEntry&&, const TableLine&)` for each taken line of
// `source`, in file order, and tells why the reading stopped. Exceptions
// thrown by `onEntry` propagate.
template <typename OnEntry>
TableEnd ForEachTableEntry(platform::ByteSource& source, OnEntry&& onEntry);

// Reads the table in `source` into its entries, in file order. A source
// that fails at once gives no entries; a read error keeps the entries taken
// so far. Throws std::bad_alloc when memory runs out.
std::vector<TableEntry> ReadTableEntries(platform::ByteSource& source);
// The same for the file at `path` (8-bit text); a file that cannot be
// opened gives no entries.
std::vector<TableEntry> ReadTableEntries(const char* path);

// The table's numbers, sorted once so that a request is resolved without
// walking the table.
class NumberIndex {
 public:
  NumberIndex() noexcept = default;
  // Throws std::bad_alloc.
  explicit NumberIndex(const std::vector<TableEntry>& entries);

  static constexpr std::size_t kAbsent = static_cast<std::size_t>(-1);

  // A request resolved: its slot, and the rank (position among the distinct
  // numbers) of the records the Selection marks at a drill block.
  struct Resolved {
    std::int32_t slot;
    std::size_t markRank;  // kAbsent when it marks no record
  };

  // The slot of a request is the largest table number n with
  // 0 <= n <= request, or -1 if there is none; negative table numbers never
  // qualify. A Selection marks the records numbered like its request or its
  // slot; requests are never negative, so a request in the table is its own
  // slot and one rank says it all: the slot's, or the rank of a record
  // numbered -1 when the slot is -1.
  Resolved Resolve(std::int32_t request) const noexcept;
  std::int32_t FindSlot(std::int32_t request) const noexcept { return Resolve(request).slot; }

  std::size_t distinctCount() const noexcept { return sorted_.size(); }
  // Rank of `number` among the distinct numbers, or kAbsent.
  std::size_t RankOf(std::int32_t number) const noexcept;

 private:
  std::vector<std::int32_t> sorted_;  // distinct numbers, ascending
  std::size_t minusOneRank_ = kAbsent;
};

// The loaded table: its entries, and the host-visible chain of one record
// per entry ended by the terminal record. Records never move once loaded,
// so the object is neither copied nor moved.
class DefinitionTable {
 public:
  // The requests an "M9" mask may make: 301 + bit for bits 0 to 13.
  static constexpr std::int32_t kFirstMaskRequest = 301;
  static constexpr int kMaskBits = 14;

  DefinitionTable() noexcept = default;
  DefinitionTable(const DefinitionTable&) = delete;
  DefinitionTable& operator=(const DefinitionTable&) = delete;

  // Reads the table in `source` (or the file at `path`, 8-bit text) and
  // links the chain. Call once. Throws std::bad_alloc when memory runs out;
  // the table is then left empty.
  void Load(platform::ByteSource& source);
  void Load(const char* path);

  // Builds the table from entries read before, in file order. Call once.
  // Throws std::bad_alloc when memory runs out; the table is then left empty.
  void Adopt(std::vector<TableEntry> entries);

  const std::vector<TableEntry>& entries() const noexcept { return entries_; }
  const std::vector<ChainRecord>& records() const noexcept { return records_; }
  ChainRecord& terminalRecord() noexcept { return terminalRecord_; }
  std::int32_t terminalNumber() const noexcept { return terminalRecord_.number; }
  // Where the host starts walking the chain: the first record, or the
  // terminal record when the table is empty.
  const ChainRecord* firstRecord() const noexcept {
    return records_.empty() ? &terminalRecord_ : records_.data();
  }

  NumberIndex::Resolved Resolve(std::int32_t request) const noexcept {
    return index_.Resolve(request);
  }
  std::int32_t FindSlot(std::int32_t request) const noexcept { return index_.FindSlot(request); }
  // The Selection of the request kFirstMaskRequest + bit, and the rank of
  // the records it marks; resolved at load.
  const Selection* maskSelections() const noexcept { return maskSelections_; }
  const std::size_t* maskRanks() const noexcept { return maskRanks_; }

  // Sets every record's value: `marked` for the records of the ranks that
  // `forEachRank` names, `other` for all the others. `forEachRank(mark)`
  // calls mark(rank) for each NumberIndex::Resolved::markRank to apply.
  //
  // Only the records whose value changes are written: those marked now or
  // at the previous call, or all of them when `other` changed. The host only
  // reads the records, so the result is the same as rewriting every value,
  // at a cost that does not grow with the table.
  template <typename ForEachRank>
  void SetRecordValues(ForEachRank&& forEachRank, float marked, float other) noexcept {
    if (other != unmarkedValue_ || markedOverflow_) {
      for (ChainRecord& record : records_) record.value = other;
      unmarkedValue_ = other;
    } else {
      for (std::size_t i = 0; i < markedCount_; ++i) SetValueOfRank(markedRanks_[i], other);
    }
    // Ranks repeat at random among the Selections; a record is written once
    // per Selection rather than once per rank, since telling a repeat apart
    // costs more than the write. The ranks are noted for the next call; past
    // the room for them, that call rewrites every record instead.
    std::size_t count = 0;
    const std::size_t last = markedRanks_.size() - 1;
    const std::size_t absentRank = rankFirst_.size() - 2;
    forEachRank([this, &count, last, absentRank, marked](std::size_t rank) {
      const std::size_t kept = rank < absentRank ? rank : absentRank;
      markedRanks_[count < last ? count : last] = static_cast<std::uint32_t>(kept);
      ++count;
      SetValueOfRank(kept, marked);
    });
    markedCount_ = count < last ? count : last;
    markedOverflow_ = count > last;
  }

 private:
  std::vector<TableEntry> entries_;
  std::vector<ChainRecord> records_;
  ChainRecord terminalRecord_{0, 0.0f, nullptr};
  NumberIndex index_;
  void SetValueOfRank(std::size_t rank, float value) noexcept {
    const std::uint32_t only = onlyRecordOfRank_[rank];
    if (only != kNotOneRecord) {
      records_[only].value = value;
      return;
    }
    for (std::uint32_t i = rankFirst_[rank]; i < rankFirst_[rank + 1]; ++i) {
      records_[recordsByRank_[i]].value = value;
    }
  }

  // The records of each rank: recordsByRank_[rankFirst_[k] .. rankFirst_[k + 1]).
  // One rank more than the table has, with no records, stands for "none".
  std::vector<std::uint32_t> rankFirst_;
  std::vector<std::uint32_t> recordsByRank_;
  // The record of each rank that has exactly one, the common case, else
  // kNotOneRecord: a drill block marks a record per Selection, and most
  // tables number each line differently.
  static constexpr std::uint32_t kNotOneRecord = static_cast<std::uint32_t>(-1);
  std::vector<std::uint32_t> onlyRecordOfRank_;
  // The ranks marked at the latest drill block, repeats included: the first
  // markedCount_ (the last entry is spare), unless they overflowed.
  std::vector<std::uint32_t> markedRanks_;
  std::size_t markedCount_ = 0;
  bool markedOverflow_ = false;
  float unmarkedValue_ = 0.0f;  // the value all unmarked records hold
  Selection maskSelections_[kMaskBits] = {};
  std::size_t maskRanks_[kMaskBits] = {};
};

// --- implementation detail of ForEachTableLine ---

// Buffered reader of a byte source that splits it into lines with the
// rules of the table file.
class TableLineReader {
 public:
  explicit TableLineReader(platform::ByteSource& source) noexcept : source_(source) {}
  TableLineReader(const TableLineReader&) = delete;
  TableLineReader& operator=(const TableLineReader&) = delete;

  // The next line, or false at the end of the file, after a read error, an
  // over-long line or a Ctrl-Z; end() then tells which.
  bool Next(TableLine& line) noexcept;
  const TableEnd& end() const noexcept { return end_; }

 private:
  int Peek() noexcept;  // next byte, or -1 where the input ends
  void Advance() noexcept;
  void Fill() noexcept;
  void Stop(TableEnd::Kind kind, std::size_t line, std::size_t column) noexcept;

  platform::ByteSource& source_;
  bool done_ = false;
  TableEnd end_;
  std::size_t lineNumber_ = 0;
  std::size_t pos_ = 0;
  std::size_t filled_ = 0;
  std::size_t lineBytes_ = 0;  // bytes of the line being read, line end included
  char line_[kMaxTableLine + 1] = {};
  char buffer_[16384] = {};
};

template <typename OnLine>
TableEnd ForEachTableLine(platform::ByteSource& source, OnLine&& onLine) {
  TableLineReader reader(source);
  TableLine line{};
  while (reader.Next(line)) onLine(static_cast<const TableLine&>(line));
  return reader.end();
}

template <typename OnEntry>
TableEnd ForEachTableEntry(platform::ByteSource& source, OnEntry&& onEntry) {
  return ForEachTableLine(source, [&onEntry](const TableLine& line) {
    if (ClassifyLine(line.text) != LineKind::kTaken) return;
    const std::string_view text = TextBeforeNul(line.text);
    onEntry(TableEntry{std::string(ParseLineName(text)), ParseLineNumber(text)}, line);
  });
}

}  // namespace ncdrill

#endif
