#include "table/definition_table.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace ncdrill {
namespace {

bool IsAtolSpace(char c) noexcept {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// Characters the name search steps over: a line such as "12.5, A B" names
// "A B".
bool IsNameLead(char c) noexcept {
  return c == ' ' || c == '+' || c == ',' || c == '-' || c == '.' || IsDigit(c);
}

}  // namespace

std::string_view TextBeforeNul(std::string_view line) noexcept {
  const void* nul = std::memchr(line.data(), '\0', line.size());
  if (nul == nullptr) return line;
  return line.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - line.data()));
}

std::int32_t ParseLineNumber(std::string_view line) noexcept {
  std::size_t i = 0;
  while (i < line.size() && IsAtolSpace(line[i])) ++i;
  bool negative = false;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) {
    negative = line[i] == '-';
    ++i;
  }
  // Magnitudes past 2^31 all clamp alike, so stop counting there.
  constexpr std::uint64_t kCap = std::uint64_t{1} << 31;
  std::uint64_t magnitude = 0;
  for (; i < line.size() && IsDigit(line[i]); ++i) {
    if (magnitude <= kCap) magnitude = magnitude * 10 + static_cast<std::uint64_t>(line[i] - '0');
  }
  if (negative) {
    return magnitude >= kCap ? std::numeric_limits<std::int32_t>::min()
                             : -static_cast<std::int32_t>(magnitude);
  }
  return magnitude >= kCap ? std::numeric_limits<std::int32_t>::max()
                           : static_cast<std::int32_t>(magnitude);
}

std::string_view ParseLineName(std::string_view line) noexcept {
  std::size_t i = 0;
  while (i < line.size() && IsNameLead(line[i])) ++i;
  return line.substr(i);
}

LineKind ClassifyLine(std::string_view line) noexcept {
  if (line.empty() || line[0] == '\0') return LineKind::kEmpty;
  if (line[0] == '#') return LineKind::kComment;
  return LineKind::kTaken;
}

void TableLineReader::Stop(TableEnd::Kind kind, std::size_t line, std::size_t column) noexcept {
  done_ = true;
  end_ = TableEnd{kind, line, column};
}

void TableLineReader::Fill() noexcept {
  pos_ = 0;
  filled_ = 0;
  const std::ptrdiff_t got = source_.Read(buffer_, sizeof buffer_);
  if (got > 0) {
    filled_ = static_cast<std::size_t>(got);
  } else {
    // The end, or a failed read: the lines taken so far stay.
    Stop(got == 0 ? TableEnd::kEndOfFile : TableEnd::kReadError, 0, 0);
  }
}

int TableLineReader::Peek() noexcept {
  if (done_) return -1;
  if (pos_ == filled_) {
    Fill();
    if (done_) return -1;
  }
  if (buffer_[pos_] == kEndOfText) {
    Stop(TableEnd::kEndOfText, lineNumber_ + 1, lineBytes_ + 1);
    return -1;
  }
  return static_cast<unsigned char>(buffer_[pos_]);
}

void TableLineReader::Advance() noexcept {
  ++pos_;
  ++lineBytes_;
}

bool TableLineReader::Next(TableLine& line) noexcept {
  std::size_t length = 0;
  bool overLong = false;
  bool sawAnything = false;
  lineBytes_ = 0;
  for (;;) {
    const int c = Peek();
    if (c < 0) break;
    sawAnything = true;
    Advance();
    if (c == '\n') break;
    // A carriage return is part of the line end only right before a line
    // feed; before a Ctrl-Z it stays in the line.
    if (c == '\r' && Peek() == '\n') {
      Advance();
      break;
    }
    if (length == kMaxTableLine) {
      overLong = true;
      break;
    }
    line_[length++] = static_cast<char>(c);
  }
  if (!sawAnything) return false;
  ++lineNumber_;
  // Like a failed getline: the cut line is taken, nothing after it is read.
  if (overLong) Stop(TableEnd::kOverLong, lineNumber_, 0);
  line.text = std::string_view(line_, length);
  line.lineNumber = lineNumber_;
  line.overLong = overLong;
  return true;
}

std::vector<TableEntry> ReadTableEntries(platform::ByteSource& source) {
  std::vector<TableEntry> entries;
  ForEachTableEntry(source, [&entries](TableEntry&& entry, const TableLine&) {
    entries.push_back(std::move(entry));
  });
  return entries;
}

std::vector<TableEntry> ReadTableEntries(const char* path) {
  if (path == nullptr) return {};
  platform::InputFile file(platform::NativePathFrom8Bit(path));
  return ReadTableEntries(file);
}

NumberIndex::NumberIndex(const std::vector<TableEntry>& entries) {
  sorted_.resize(entries.size());
  std::transform(entries.begin(), entries.end(), sorted_.begin(),
                 [](const TableEntry& entry) { return entry.number; });
  std::sort(sorted_.begin(), sorted_.end());
  sorted_.erase(std::unique(sorted_.begin(), sorted_.end()), sorted_.end());
  minusOneRank_ = RankOf(-1);
}

NumberIndex::Resolved NumberIndex::Resolve(std::int32_t request) const noexcept {
  // The largest number <= request, by halving without a branch on the
  // numbers: requests come in no order a predictor could learn, and the
  // steps depend only on the table's size.
  std::size_t count = sorted_.size();
  if (count == 0) return Resolved{-1, minusOneRank_};
  const std::int32_t* base = sorted_.data();
  while (count > 1) {
    const std::size_t half = count / 2;
    base = base[half] <= request ? base + half : base;
    count -= half;
  }
  if (*base <= request && *base >= 0) {
    return Resolved{*base, static_cast<std::size_t>(base - sorted_.data())};
  }
  return Resolved{-1, minusOneRank_};
}

std::size_t NumberIndex::RankOf(std::int32_t number) const noexcept {
  const auto at = std::lower_bound(sorted_.begin(), sorted_.end(), number);
  if (at == sorted_.end() || *at != number) return kAbsent;
  return static_cast<std::size_t>(at - sorted_.begin());
}

void DefinitionTable::Load(const char* path) {
  if (path == nullptr) return;
  platform::InputFile file(platform::NativePathFrom8Bit(path));
  Load(file);
}

void DefinitionTable::Load(platform::ByteSource& source) { Adopt(ReadTableEntries(source)); }

void DefinitionTable::Adopt(std::vector<TableEntry> entries) {
  NumberIndex index(entries);
  std::vector<ChainRecord> records(entries.size(), ChainRecord{0, 0.0f, nullptr});
  // One rank more for "no record", which has none.
  std::vector<std::uint32_t> rankFirst(index.distinctCount() + 2, 0);
  std::vector<std::uint32_t> recordsByRank(entries.size());
  std::vector<std::size_t> rankOfRecord(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    records[i].number = entries[i].number;
    records[i].next = i + 1 < records.size() ? &records[i + 1] : &terminalRecord_;
    rankOfRecord[i] = index.RankOf(entries[i].number);
    ++rankFirst[rankOfRecord[i] + 1];
  }
  for (std::size_t k = 1; k < rankFirst.size(); ++k) rankFirst[k] += rankFirst[k - 1];
  std::vector<std::uint32_t> fill(rankFirst.begin(), rankFirst.end() - 1);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    recordsByRank[fill[rankOfRecord[i]]++] = static_cast<std::uint32_t>(i);
  }
  std::vector<std::uint32_t> onlyRecordOfRank(rankFirst.size() - 1, kNotOneRecord);
  for (std::size_t k = 0; k + 1 < rankFirst.size(); ++k) {
    if (rankFirst[k + 1] - rankFirst[k] == 1) onlyRecordOfRank[k] = recordsByRank[rankFirst[k]];
  }
  // Room for the ranks of the Selections a drill block usually hands over.
  constexpr std::size_t kMarkedRoom = 256;
  std::vector<std::uint32_t> markedRanks(kMarkedRoom + 1, 0);
  // Nothing below allocates: the table changes all at once or not at all.
  entries_ = std::move(entries);
  records_ = std::move(records);  // moving a vector keeps its elements where they are
  index_ = std::move(index);
  rankFirst_ = std::move(rankFirst);
  recordsByRank_ = std::move(recordsByRank);
  onlyRecordOfRank_ = std::move(onlyRecordOfRank);
  markedRanks_ = std::move(markedRanks);
  markedCount_ = 0;
  markedOverflow_ = false;
  unmarkedValue_ = 0.0f;
  for (int bit = 0; bit < kMaskBits; ++bit) {
    const NumberIndex::Resolved resolved = index_.Resolve(kFirstMaskRequest + bit);
    maskSelections_[bit] = Selection{resolved.slot, kFirstMaskRequest + bit};
    maskRanks_[bit] = resolved.markRank;
  }
  terminalRecord_ = ChainRecord{0, 0.0f, nullptr};
}

}  // namespace ncdrill
