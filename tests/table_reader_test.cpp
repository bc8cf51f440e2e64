// The table reader and FindSlot, tested directly on the reader: the host
// sees the table only through drill blocks, which the trigger tests cover.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "plugin_host.h"
#include "table/definition_table.h"

namespace ncdrill {
namespace {

using ncdrill_test::TempFolder;

std::vector<TableEntry> Read(std::string_view bytes) {
  TempFolder folder;
  folder.Write("t.txt", bytes);
  return ReadTableEntries((folder.path() + "t.txt").c_str());
}

struct Expected {
  std::int32_t number;
  std::string name;
};

void ExpectEntries(const std::vector<TableEntry>& got, const std::vector<Expected>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].number, want[i].number) << "entry " << i;
    EXPECT_EQ(got[i].name, want[i].name) << "entry " << i;
  }
}

TEST(TableReader, TakesNumberAndNameOfEveryLineInFileOrder) {
  ExpectEntries(Read("301 G81\n"
                     "  12.5, A B \n"
                     "81G81\n"
                     "G83\n"
                     "7\n"
                     "-1 X\n"
                     "\t5 Y\n"
                     "   \n"
                     "+-3 Z\n"
                     "301 G81\n"),
                {{301, "G81"},
                 {12, "A B "},
                 {81, "G81"},
                 {0, "G83"},
                 {7, ""},
                 {-1, "X"},
                 {5, "\t5 Y"},
                 {0, ""},
                 {0, "Z"},
                 {301, "G81"}});
}

TEST(TableReader, SkipsCommentsInFirstColumnAndEmptyLines) {
  ExpectEntries(Read("# comment\n\n #x\n#\n\n5 A\n"), {{0, "#x"}, {5, "A"}});
}

TEST(TableReader, NulEndsTheLineTextAndALeadingNulMakesItEmpty) {
  ExpectEntries(Read(std::string("\0 9 X\n12 G8\0 1\n3\0\n", 18)), {{12, "G8"}, {3, ""}});
}

TEST(TableReader, LineEnds) {
  // CR LF ends a line; any other CR is an ordinary character; a last line
  // without a line end is taken, a lone CR at the very end included.
  ExpectEntries(Read("1 A\r\n2 B\rC\r\n3 D\r\r\n4 E\r"),
                {{1, "A"}, {2, "B\rC"}, {3, "D\r"}, {4, "E\r"}});
  ExpectEntries(Read("1 A"), {{1, "A"}});
  ExpectEntries(Read(""), {});
}

TEST(TableReader, LinesOf254CharactersAreTakenWholeAndReadingGoesOn) {
  const std::string name(250, 'N');
  const std::string line = "12 " + name + "x";  // 254 characters
  ASSERT_EQ(line.size(), kMaxTableLine);
  ExpectEntries(Read(line + "\n" + line + "\r\n" + "7 Z\n"),
                {{12, name + "x"}, {12, name + "x"}, {7, "Z"}});
  ExpectEntries(Read(line), {{12, name + "x"}});
}

TEST(TableReader, ALongerLineIsCutTo254AndEndsTheReading) {
  const std::string name(300, 'L');
  ExpectEntries(Read("1 A\n9 " + name + "\n2 B\n"), {{1, "A"}, {9, name.substr(0, 252)}});
  // A CR that is not part of the line end counts toward the limit.
  const std::string line254(254, 'x');
  ExpectEntries(Read(line254 + "\rx\n2 B\n"), {{0, line254}});
  // NUL bytes count toward the limit as well.
  ExpectEntries(Read("5 X" + std::string(300, '\0') + "\n2 B\n"), {{5, "X"}});
}

TEST(TableReader, ACtrlZEndsTheFile) {
  // The text before it on its line is the last line; a CR right before it
  // stays in the line, as any CR that is not before a line feed.
  ExpectEntries(Read("1 A\r\n2 B\x1A\n3 C\n"), {{1, "A"}, {2, "B"}});
  const std::string ctrlZ(1, kEndOfText);
  ExpectEntries(Read("1 A\n" + ctrlZ + "7 X\n"), {{1, "A"}});
  ExpectEntries(Read("1 A\r\x1A\r\n"), {{1, "A\r"}});
  ExpectEntries(Read(ctrlZ + "1 A\n"), {});
  // A Ctrl-Z after an over-long line is never reached; one right after 254
  // characters ends the file like its end, and the line is whole.
  const std::string line254 = "5 " + std::string(252, 'N');
  ExpectEntries(Read(line254 + "\x1A"), {{5, line254.substr(2)}});
}

// Hands out a table in reads of a few bytes, and fails the n-th read.
class FailingSource final : public platform::ByteSource {
 public:
  FailingSource(std::string bytes, int failingRead)
      : bytes_(std::move(bytes)), fail_(failingRead) {}
  std::ptrdiff_t Read(char* buffer, std::size_t size) noexcept override {
    if (++reads_ == fail_) return -1;
    const std::size_t n = std::min({size, std::size_t{4}, bytes_.size() - at_});
    std::copy_n(bytes_.data() + at_, n, buffer);
    at_ += n;
    return static_cast<std::ptrdiff_t>(n);
  }

 private:
  std::string bytes_;
  int fail_;
  int reads_ = 0;
  std::size_t at_ = 0;
};

TEST(TableReader, AReadFailurePartWayKeepsTheLinesTakenSoFar) {
  const std::string table = "1 A\n22 B\n333 C\n";  // reads of 4: "1 A\n", "22 B", "\n333", ...
  FailingSource atOnce(table, 1);
  EXPECT_TRUE(ReadTableEntries(atOnce).empty());
  FailingSource second(table, 2);
  ExpectEntries(ReadTableEntries(second), {{1, "A"}});
  // A line cut short by the failure is still taken, as far as it was read.
  FailingSource third(table, 3);
  ExpectEntries(ReadTableEntries(third), {{1, "A"}, {22, "B"}});
  FailingSource fourth(table, 4);
  ExpectEntries(ReadTableEntries(fourth), {{1, "A"}, {22, "B"}, {333, ""}});
  FailingSource never(table, 0);
  ExpectEntries(ReadTableEntries(never), {{1, "A"}, {22, "B"}, {333, "C"}});

  FailingSource loaded(table, 3);
  DefinitionTable partial;
  partial.Load(loaded);
  ASSERT_EQ(partial.records().size(), 2u);
  EXPECT_EQ(partial.records()[1].next, &partial.terminalRecord());
}

TEST(TableReader, TellsWhyTheReadingEnded) {
  const auto endOf = [](std::string bytes, int failingRead = 0) {
    FailingSource source(std::move(bytes), failingRead);
    return ForEachTableLine(source, [](const TableLine&) {});
  };
  EXPECT_EQ(endOf("1 A\n").kind, TableEnd::kEndOfFile);
  EXPECT_EQ(endOf("1 A\n2 B\n", 2).kind, TableEnd::kReadError);
  const TableEnd overLong = endOf("1 A\n" + std::string(300, 'x') + "\n");
  EXPECT_EQ(overLong.kind, TableEnd::kOverLong);
  EXPECT_EQ(overLong.line, 2u);
  const TableEnd ctrlZ = endOf("1 A\n# c\n\n2 B\r\x1A");
  EXPECT_EQ(ctrlZ.kind, TableEnd::kEndOfText);
  EXPECT_EQ(ctrlZ.line, 4u);
  EXPECT_EQ(ctrlZ.column, 5u);
  const TableEnd ownLine = endOf("1 A\r\n\x1A");
  EXPECT_EQ(ownLine.line, 2u);
  EXPECT_EQ(ownLine.column, 1u);
}

TEST(TableReader, NumbersSaturateAtTheInt32Range) {
  ExpectEntries(Read("2147483647 A\n2147483648 B\n-2147483648 C\n-2147483649 D\n"
                     "99999999999999999999999 E\n\v\f\r+42 F\n"),
                {{INT32_MAX, "A"},
                 {INT32_MAX, "B"},
                 {INT32_MIN, "C"},
                 {INT32_MIN, "D"},
                 {INT32_MAX, "E"},
                 {42, "\v\f\r+42 F"}});
}

TEST(TableReader, AFileThatCannotBeReadGivesAnEmptyTable) {
  TempFolder folder;
  EXPECT_TRUE(ReadTableEntries((folder.path() + "missing.txt").c_str()).empty());
  EXPECT_TRUE(ReadTableEntries(folder.path().c_str()).empty());  // a folder
  EXPECT_TRUE(ReadTableEntries(nullptr).empty());
}

TEST(DefinitionTableLoad, LinksOneRecordPerEntryEndingWithTheTerminalRecord) {
  TempFolder folder;
  folder.Write("t.txt", "301\n# c\n302\n81 G81\n");
  DefinitionTable table;
  table.Load((folder.path() + "t.txt").c_str());
  std::vector<std::int32_t> numbers;
  const ChainRecord* last = nullptr;
  for (const ChainRecord* r = table.firstRecord(); r != nullptr; r = r->next) {
    numbers.push_back(r->number);
    EXPECT_EQ(r->value, 0.0f);
    last = r;
  }
  EXPECT_EQ(numbers, (std::vector<std::int32_t>{301, 302, 81, 0}));
  EXPECT_EQ(last, &table.terminalRecord());

  DefinitionTable empty;
  empty.Load((folder.path() + "missing.txt").c_str());
  EXPECT_EQ(empty.firstRecord(), &empty.terminalRecord());
  EXPECT_EQ(empty.firstRecord()->next, nullptr);
}

std::vector<TableEntry> Numbers(std::initializer_list<std::int32_t> numbers) {
  std::vector<TableEntry> entries;
  for (std::int32_t n : numbers) entries.push_back(TableEntry{"", n});
  return entries;
}

std::int32_t FindSlot(const std::vector<TableEntry>& entries, std::int32_t request) {
  return NumberIndex(entries).FindSlot(request);
}

TEST(FindSlot, GivesTheLargestNumberFromZeroToTheRequest) {
  const auto table = Numbers({200, 0, 100});
  EXPECT_EQ(FindSlot(table, 150), 100);
  EXPECT_EQ(FindSlot(table, 99), 0);
  EXPECT_EQ(FindSlot(table, 200), 200);
  EXPECT_EQ(FindSlot(table, 999), 200);
  EXPECT_EQ(FindSlot(table, -1), -1);
  EXPECT_EQ(FindSlot(Numbers({100}), 50), -1);
  EXPECT_EQ(FindSlot(Numbers({-5}), -5), -1);
  EXPECT_EQ(FindSlot(Numbers({-1, 3}), -1), -1);
  EXPECT_EQ(FindSlot(Numbers({INT32_MAX, 7}), INT32_MAX), INT32_MAX);
  EXPECT_EQ(FindSlot(Numbers({}), 5), -1);
}

// Halving searches go wrong at particular sizes: every size up to 40, every
// request around each number, against a look at every number.
TEST(FindSlot, AgreesWithALookAtEveryNumberForEveryTableSize) {
  for (std::int32_t size = 0; size <= 40; ++size) {
    std::vector<TableEntry> entries;
    // Distinct numbers from -6 up in steps of 3, one repeated, in reverse.
    for (std::int32_t i = size - 1; i >= 0; --i) entries.push_back(TableEntry{"", 3 * i - 6});
    if (size > 0) entries.push_back(entries.front());
    const NumberIndex index(entries);
    for (std::int32_t request = -8; request <= 3 * size; ++request) {
      std::int32_t expected = -1;
      for (const TableEntry& entry : entries) {
        if (entry.number >= 0 && entry.number <= request && entry.number > expected) {
          expected = entry.number;
        }
      }
      const NumberIndex::Resolved resolved = index.Resolve(request);
      ASSERT_EQ(resolved.slot, expected) << "size " << size << ", request " << request;
      ASSERT_EQ(resolved.markRank, index.RankOf(expected))
          << "size " << size << ", request " << request;
    }
  }
}

}  // namespace
}  // namespace ncdrill
