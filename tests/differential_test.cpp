// The plug-in against the plain model (fuzz/model.h) on random tables and
// blocks, and the scanner's candidate searches against each other.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "interpret/block_explainer.h"
#include "interpret/block_matcher.h"
#include "interpret/block_path.h"
#include "model.h"
#include "plugin_host.h"
#include "table/definition_table.h"
#include "unit_plugins.h"

namespace ncdrill_units {
// Names a unit's plug-in by its unit in test output.
void PrintTo(const UnitPlugin& plugin, std::ostream* out) { *out << plugin.name; }
}  // namespace ncdrill_units

namespace ncdrill_test {
namespace {

const char* const kNames[] = {"G81", "G8",  "G82", "G2",   "X",   "X1",  "T",   "(",      ")",
                              "M9",  "G52", "N",   "G81 ", "A B", "Y2",  "G83", "G0",     "T3",
                              "M",   "G",   "Z-5", "(G81", "81",  "G20", "XY",  "DRILL_A"};
const char* const kTokens[] = {"G81",
                               "G8",
                               "G82",
                               "G2",
                               "G20",
                               "G21",
                               "G200",
                               "G52",
                               "G5",
                               "M9",
                               "M90",
                               "M6",
                               "T",
                               "T1",
                               "T3",
                               "T0",
                               "T16383",
                               "T99999999999",
                               "(",
                               ")",
                               "(G81)",
                               "X",
                               "X1",
                               "X10",
                               "Y2.5",
                               "Z-5",
                               " ",
                               ".",
                               ",",
                               "-",
                               "+",
                               "0",
                               "9",
                               "N10",
                               "G",
                               "M",
                               "#",
                               "\t",
                               "\r",
                               "A B",
                               "DRILL_A",
                               "G83 Q2",
                               "(SPOT DRILL ALL HOLES)",
                               "G0"};

class Random {
 public:
  explicit Random(unsigned seed) : engine_(seed) {}
  std::size_t Below(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(engine_);
  }
  template <typename T, std::size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(N)];
  }

 private:
  std::mt19937 engine_;
};

std::string RandomTable(Random& random) {
  const std::int32_t kNumbers[] = {
      0, 1, 3, 5, 8, 81, 82, 301, 302, 303, 305, 310, 314, -1, -5, 2147483647, -2147483647 - 1};
  std::string table;
  const std::size_t lines = random.Below(8) == 0 ? 200 + random.Below(200) : random.Below(12);
  for (std::size_t i = 0; i < lines; ++i) {
    switch (random.Below(8)) {
      case 0:
        table += "# comment\n";
        break;
      case 1:
        table += "\n";
        break;
      case 2:
        table += std::to_string(random.Below(400)) + " " + random.Pick(kNames) + "\n";
        break;
      case 3:
        table += std::to_string(random.Pick(kNumbers)) + "\n";
        break;
      case 4:
        table += std::string(random.Pick(kNames)) + "\n";
        break;
      case 5: {
        std::string name;
        for (std::size_t k = 1 + random.Below(3); k > 0; --k)
          name += static_cast<char>('A' + random.Below(26));
        table += std::to_string(random.Below(20)) + " " + name + "\n";
        break;
      }
      default:
        table += std::to_string(random.Pick(kNumbers)) + " " + random.Pick(kNames) + "\n";
    }
  }
  return table;
}

std::string RandomBlock(Random& random, std::size_t target) {
  std::string block;
  while (block.size() < target) {
    const std::size_t kind = random.Below(20);
    if (kind == 0) {
      block += '\0';
    } else if (kind == 1) {
      block += static_cast<char>(random.Below(256));
    } else {
      block += random.Pick(kTokens);
    }
    if (random.Below(3) == 0) block += ' ';
  }
  return block;
}

std::size_t RandomLength(Random& random) {
  switch (random.Below(5)) {
    case 0:
      return random.Below(8);
    case 1:
      return random.Below(40);
    case 2:
      return 28 + random.Below(10);  // around one vector word
    case 3:
      return 60 + random.Below(24);  // around the end of a word of 64 positions
    default:
      return random.Below(600);  // across the scan's windows
  }
}

// Feeds random tables and blocks to the plug-in file `pluginFile` and to the
// model, block by block.
void ExpectPluginMatchesThePlainModel(const std::string& pluginFile) {
  std::size_t drillBlocks = 0;
  for (unsigned seed = 1; seed <= 60; ++seed) {
    Random random(seed);
    const std::string table = RandomTable(random);
    Session session(table, nullptr, pluginFile);
    ncdrill_model::Interpreter model(ncdrill_model::ReadTable(table));
    for (int n = 0; n < 400; ++n) {
      const std::string buffer = RandomBlock(random, RandomLength(random));
      // An exact-size copy, so that reading past the buffer shows under
      // sanitizers; sometimes the host's length stops short of it.
      const std::unique_ptr<char[]> copy(new char[buffer.size()]);
      buffer.copy(copy.get(), buffer.size());
      const std::size_t length =
          random.Below(5) == 0 && !buffer.empty() ? random.Below(buffer.size()) : buffer.size();
      const std::size_t eventsBefore = session.host().events().size();
      const bool result =
          session.interpreter().InterpretBlock(copy.get(), static_cast<std::int32_t>(length));
      const std::string_view hostBlock = std::string_view(buffer).substr(0, length);
      const ncdrill_model::Outcome expected =
          model.Block(hostBlock.substr(0, hostBlock.find('\0')));
      const std::vector<Event> events(
          session.host().events().begin() + static_cast<std::ptrdiff_t>(eventsBefore),
          session.host().events().end());
      SCOPED_TRACE("seed " + std::to_string(seed) + " block " + std::to_string(n) + ": " +
                   ::testing::PrintToString(buffer.substr(0, length)));
      ASSERT_EQ(result, expected.result);
      if (!expected.drill) {
        ASSERT_TRUE(events.empty());
        continue;
      }
      ++drillBlocks;
      ASSERT_EQ(events.size(), 3u);
      std::vector<float> values;
      for (std::size_t r = 0; r + 1 < events[0].chain.size(); ++r)
        values.push_back(events[0].chain[r].second);
      ASSERT_EQ(values, expected.values);
      ASSERT_EQ(events[0].chain.back().first, expected.terminal);
      ASSERT_EQ(events[1].selections, expected.handed);
    }
  }
  EXPECT_GT(drillBlocks, 1000u);  // the random programs do reach the trigger
}

TEST(Differential, PluginMatchesThePlainModel) {
  ExpectPluginMatchesThePlainModel(BuiltPluginFile());
}

// The plug-in built for each NCDRILL_VECTOR_UNIT, as a host gets it.
class EveryUnit : public ::testing::TestWithParam<ncdrill_units::UnitPlugin> {};

TEST_P(EveryUnit, PluginMatchesThePlainModel) {
  if (!ncdrill::HasVectorUnit(static_cast<ncdrill::VectorUnit>(GetParam().unit))) {
    std::printf("this processor has no %s\n", GetParam().name);
    return;
  }
  ExpectPluginMatchesThePlainModel(GetParam().file);
}

INSTANTIATE_TEST_SUITE_P(Differential, EveryUnit, ::testing::ValuesIn(ncdrill_units::kUnitPlugins),
                         [](const auto& info) { return std::string(info.param.name); });

// The explainer runs the plug-in's own parts; on any program it must come
// to what the loaded plug-in does.
TEST(Differential, ExplainerComesToWhatThePluginDoes) {
  for (unsigned seed = 200; seed < 230; ++seed) {
    Random random(seed);
    const std::string table = RandomTable(random);
    Session session(table);
    ncdrill::BlockExplainer explainer(
        ncdrill::ReadTableEntries((session.folder().path() + "VONDRIX_4.txt").c_str()));
    ncdrill::BlockExplanation explanation;
    for (int n = 0; n < 300; ++n) {
      const std::string block = RandomBlock(random, RandomLength(random));
      const std::size_t eventsBefore = session.host().events().size();
      const bool result = session.Block(block);
      explainer.Explain(block.data(), block.size(), explanation);
      SCOPED_TRACE("seed " + std::to_string(seed) + ": " + ::testing::PrintToString(block));
      ASSERT_EQ(explanation.result, result);
      const std::vector<Event> events(
          session.host().events().begin() + static_cast<std::ptrdiff_t>(eventsBefore),
          session.host().events().end());
      if (explanation.trigger == ncdrill::kNoPosition) {
        ASSERT_TRUE(events.empty());
        continue;
      }
      ASSERT_EQ(events.size(), 3u);
      ASSERT_EQ(events[1].selections, explanation.handedOver);
      std::vector<std::pair<std::int32_t, float>> chain;
      for (const ChainRecord* r = explainer.table().firstRecord(); r != nullptr; r = r->next) {
        chain.emplace_back(r->number, r->value);
      }
      ASSERT_EQ(events[0].chain, chain);
    }
  }
}

void ExpectSameFacts(const ncdrill::BlockFacts& a, const ncdrill::BlockFacts& b) {
  EXPECT_EQ(a.length, b.length);
  EXPECT_EQ(a.firstT, b.firstT);
  EXPECT_EQ(a.parenBeforeT, b.parenBeforeT);
  EXPECT_EQ(a.firstG2, b.firstG2);
  EXPECT_EQ(a.hasM9, b.hasM9);
  EXPECT_EQ(a.hasG52, b.hasG52);
  EXPECT_EQ(a.trigger, b.trigger);
}

// Each unit against the portable one, fact by fact, on random tables (some
// with more first bytes than the word scans compare) and blocks.
TEST(Differential, EveryVectorUnitFindsWhatThePortableScanFinds) {
  using ncdrill::VectorUnit;
  std::string compared;  // which units this processor let the test run, for the log
  for (const VectorUnit unit :
       {VectorUnit::kSse2, VectorUnit::kAvx2, VectorUnit::kAvx512, VectorUnit::kAvx512Vbmi}) {
    if (!ncdrill::HasVectorUnit(unit)) continue;  // not on this processor
    compared += " " + std::to_string(static_cast<int>(unit));
    for (unsigned seed = 100; seed < 130; ++seed) {
      Random random(seed);
      TempFolder folder;
      folder.Write("t.txt", RandomTable(random));
      const std::vector<ncdrill::TableEntry> entries =
          ncdrill::ReadTableEntries((folder.path() + "t.txt").c_str());
      ncdrill::BlockMatcher vector;
      ncdrill::BlockMatcher portable;
      vector.Build(entries);
      portable.Build(entries);
      ASSERT_TRUE(vector.UseVectorUnit(unit));
      ASSERT_TRUE(portable.UseVectorUnit(VectorUnit::kPortable));
      for (int n = 0; n < 500; ++n) {
        const std::string block = RandomBlock(random, RandomLength(random));
        // Exact-size copies, so that reading past the block shows under
        // sanitizers.
        const std::vector<char> copy(block.begin(), block.end());
        ncdrill::BlockFacts a;
        ncdrill::BlockFacts b;
        vector.Examine(copy.data(), copy.size(), a);
        portable.Examine(copy.data(), copy.size(), b);
        SCOPED_TRACE(::testing::PrintToString(block));
        ExpectSameFacts(a, b);
        if (HasFailure()) return;
      }
    }
  }
  std::printf("vector units compared with the portable scan (VectorUnit values):%s\n",
              compared.c_str());
}

// Each mark a scan looks for, alone and after a "(", at every position of
// blocks of every length past two words: each unit's vector, word and
// tail boundaries all fall inside some mark. Two tables: names whose second
// bytes are digits, and names whose second bytes are letters or anything
// (AVX2 looks the latter up by nibbles).
void ExpectEachMarkFoundAtEveryPosition(const char* table, const std::vector<std::string>& names) {
  using ncdrill::VectorUnit;
  TempFolder folder;
  folder.Write("t.txt", table);
  const std::vector<ncdrill::TableEntry> entries =
      ncdrill::ReadTableEntries((folder.path() + "t.txt").c_str());
  std::vector<std::string> marks = {"T1", "M9", "G20", "G52", "G81", "G81.", std::string(1, '\0')};
  marks.insert(marks.end(), names.begin(), names.end());
  for (const VectorUnit unit :
       {VectorUnit::kSse2, VectorUnit::kAvx2, VectorUnit::kAvx512, VectorUnit::kAvx512Vbmi}) {
    if (!ncdrill::HasVectorUnit(unit)) continue;
    ncdrill::BlockMatcher vector;
    ncdrill::BlockMatcher portable;
    vector.Build(entries);
    portable.Build(entries);
    ASSERT_TRUE(vector.UseVectorUnit(unit));
    ASSERT_TRUE(portable.UseVectorUnit(VectorUnit::kPortable));
    const auto expectSame = [&](const std::string& block) {
      const std::vector<char> copy(block.begin(), block.end());  // exact size, for sanitizers
      ncdrill::BlockFacts a;
      ncdrill::BlockFacts b;
      vector.Examine(copy.data(), copy.size(), a);
      portable.Examine(copy.data(), copy.size(), b);
      SCOPED_TRACE("unit " + std::to_string(static_cast<int>(unit)) + ": " +
                   ::testing::PrintToString(block));
      ExpectSameFacts(a, b);
    };
    for (std::size_t length = 0; length <= 2 * 64 + 18; ++length) {
      for (const std::string& mark : marks) {
        for (std::size_t at = 0; at < length; ++at) {
          std::string block(length, 'x');
          block.replace(at, mark.size(), mark);
          block.resize(length);
          expectSame(block);
          if (at > 0) {
            block[at - 1] = '(';
            expectSame(block);
          }
          if (::testing::Test::HasFailure()) return;
        }
      }
    }
  }
}

TEST(Differential, EveryVectorUnitFindsEachMarkAtEveryPosition) {
  ExpectEachMarkFoundAtEveryPosition("81 G81\n7 A1\n3 Q3\n", {"A1", "Q3"});
  ExpectEachMarkFoundAtEveryPosition("81 G81\n7 AB\n3 Q\n", {"AB", "Q"});
}

// What a block path did with one block: its result, and the negated number
// of the drill block it delivered (0: none).
struct PathOutcome {
  bool result = false;
  std::int32_t drill = 0;
  bool operator==(const PathOutcome& other) const {
    return result == other.result && drill == other.drill;
  }
};

void PrintTo(const PathOutcome& outcome, std::ostream* out) {
  *out << (outcome.result ? "true" : "false") << "/" << outcome.drill;
}

// The outcomes of `unit`'s block path, from a fresh state on the table at
// `tablePath`, for each of `blocks`.
std::vector<PathOutcome> PathOutcomes(ncdrill::VectorUnit unit, const std::string& tablePath,
                                      const std::vector<std::string>& blocks) {
  ncdrill::BlockState state;
  state.table.Load(tablePath.c_str());
  state.matcher.Build(state.table.entries());
  state.selections.Reserve();
  EXPECT_TRUE(state.matcher.UseVectorUnit(unit));
  std::int32_t terminal = 0;
  HostCallbacks host{};
  host.context = &terminal;
  host.putRecordChain = [](void* context, const ChainRecord* first) {
    while (first->next != nullptr) first = first->next;
    *static_cast<std::int32_t*>(context) = first->number;
  };
  std::vector<PathOutcome> outcomes;
  for (const std::string& block : blocks) {
    terminal = 0;
    const bool result =
        state.Interpret(&host, block.data(), static_cast<std::int32_t>(block.size()));
    outcomes.push_back(PathOutcome{result, terminal});
  }
  return outcomes;
}

// Each unit's block path for tables whose names start with 1 to 24
// different letters (and the codes with "G" and "M"), against the portable
// one: each kind of table gets the path built for it.
TEST(Differential, EveryBlockPathDoesWhatThePortableOneDoes) {
  using ncdrill::VectorUnit;
  for (int letters = 1; letters <= 24; ++letters) {
    std::string table;
    std::vector<std::string> blocks = {"T3 M6", "T12 M9", "G20", "(T5) G52"};
    for (int k = 0; k < letters; ++k) {
      const std::string name = std::string(1, static_cast<char>('A' + k)) + "1";
      table += std::to_string(k + 1) + " " + name + "\n";
      blocks.push_back("N" + std::to_string(k) + " " + name + " X2");
      blocks.push_back("T" + std::to_string(k) + " " + name + "5");
    }
    TempFolder folder;
    folder.Write("t.txt", table);
    const std::string tablePath = folder.path() + "t.txt";
    const std::vector<PathOutcome> expected =
        PathOutcomes(VectorUnit::kPortable, tablePath, blocks);
    for (const VectorUnit unit :
         {VectorUnit::kSse2, VectorUnit::kAvx2, VectorUnit::kAvx512, VectorUnit::kAvx512Vbmi}) {
      if (!ncdrill::HasVectorUnit(unit)) continue;
      SCOPED_TRACE("unit " + std::to_string(static_cast<int>(unit)) + ", " +
                   std::to_string(letters) + " letters");
      EXPECT_EQ(PathOutcomes(unit, tablePath, blocks), expected);
    }
  }
}

// Each unit's block path, from a fresh state on `table`, against the plain
// model, block by block.
void ExpectEveryPathDoesWhatTheModelDoes(const std::string& table,
                                         const std::vector<std::string>& blocks) {
  using ncdrill::VectorUnit;
  TempFolder folder;
  folder.Write("t.txt", table);
  const std::string tablePath = folder.path() + "t.txt";
  ncdrill_model::Interpreter model(ncdrill_model::ReadTable(table));
  std::vector<PathOutcome> expected;
  for (const std::string& block : blocks) {
    const ncdrill_model::Outcome outcome = model.Block(block.substr(0, block.find('\0')));
    expected.push_back(PathOutcome{outcome.result, outcome.drill ? outcome.terminal : 0});
  }
  for (const VectorUnit unit : {VectorUnit::kPortable, VectorUnit::kSse2, VectorUnit::kAvx2,
                                VectorUnit::kAvx512, VectorUnit::kAvx512Vbmi}) {
    if (!ncdrill::HasVectorUnit(unit)) continue;
    SCOPED_TRACE("unit " + std::to_string(static_cast<int>(unit)) + ", table " + table);
    const std::vector<PathOutcome> outcomes = PathOutcomes(unit, tablePath, blocks);
    ASSERT_EQ(outcomes.size(), expected.size());
    for (std::size_t b = 0; b < blocks.size(); ++b) {
      ASSERT_EQ(outcomes[b], expected[b]) << ::testing::PrintToString(blocks[b]);
    }
  }
}

// Blocks of up to 40 characters, with each thing a block path acts on at
// each position of a filler that holds nothing, and the fillers alone: the
// paths answer most such blocks before their scan, and must come to what the
// plain model does. Tables whose names start with 2, 7 and 12 bytes, with
// second bytes that are digits and that are not (past 8 first bytes, or with
// letters for second bytes, the AVX2 unit looks names up by nibbles).
TEST(Differential, EveryBlockPathAnswersShortBlocksAsTheModelDoes) {
  const std::string marks[] = {"T1",  "T",   "(",  "M9", "G20", "G21",  "G52",
                               "G81", "G8x", "AB", "Q",  "Qx",  "\xe9", std::string(1, '\0')};
  const std::string fillers[] = {"x", "N10 X5.2 Y", "Y 1"};
  for (const char* table : {"81 G81\n", "81 G81\n7 A1\n3 Q3\n5 C7\n6 D8\n9 E9\n",
                            "81 G81\n7 AB\n3 Q\n5 C7\n6 D8\n9 E9\n",
                            "81 G81\n7 AB\n3 Q\n5 C7\n6 D8\n9 E9\n1 F1\n2 HJ\n4 K\n8 LZ\n"
                            "10 P(\n11 S\xe9\n"}) {
    std::vector<std::string> blocks;
    for (std::size_t length = 1; length <= 40; ++length) {
      for (const std::string& filler : fillers) {
        std::string plain;
        while (plain.size() < length) plain += filler;
        plain.resize(length);
        blocks.push_back(plain);
        for (const std::string& mark : marks) {
          for (std::size_t at = 0; at < length; ++at) {
            std::string block = plain;
            block.replace(at, mark.size(), mark);
            block.resize(length);
            blocks.push_back(block);
          }
        }
      }
    }
    ExpectEveryPathDoesWhatTheModelDoes(table, blocks);
    if (::testing::Test::HasFailure()) return;
  }
}

// `count` blocks of `shortest` to `longest` characters of `fillers`, each
// with at least `fewest` and at most `fewest` + 3 of `marks` at random
// places.
template <std::size_t Fillers, std::size_t Marks>
std::vector<std::string> BlocksWithMarks(Random& random, int count, std::size_t shortest,
                                         std::size_t longest, const std::string (&fillers)[Fillers],
                                         const std::string (&marks)[Marks], std::size_t fewest) {
  std::vector<std::string> blocks;
  for (int n = 0; n < count; ++n) {
    std::string block;
    const std::size_t length = shortest + random.Below(longest - shortest + 1);
    while (block.size() < length) block += random.Pick(fillers);
    for (std::size_t k = fewest + random.Below(4); k > 0; --k) {
      const std::string& mark = random.Pick(marks);
      block.replace(random.Below(length), mark.size(), mark);
    }
    block.resize(length);
    blocks.push_back(block);
  }
  return blocks;
}

// Blocks of 33 to 66 characters, with a few of the things a block path acts
// on at random places: these get a short test of their own, which flags
// only the "T"s and "("s that decide whether the block makes a tool request.
// Tables with names that start with "T" and with "(" too.
TEST(Differential, EveryBlockPathAnswersMidBlocksAsTheModelDoes) {
  const std::string marks[] = {"T1",  "T",  "(",  ")",  "M9", "G20",  "G52",
                               "G81", "TA", "(G", "AB", "Q",  "\xe9", std::string(1, '\0')};
  const std::string fillers[] = {"N10 X5.2 Y"};
  Random random(33);
  for (const char* table : {"81 G81\n7 AB\n3 Q\n", "81 G81\n7 TA\n", "81 G81\n7 (G\n4 T\n",
                            "81 G81\n7 A1\n3 Q3\n5 C7\n6 D8\n9 E9\n"}) {
    ExpectEveryPathDoesWhatTheModelDoes(table,
                                        BlocksWithMarks(random, 4000, 33, 66, fillers, marks, 1));
    if (::testing::Test::HasFailure()) return;
  }
}

// Blocks of 65 to 300 characters, mostly a comment or a row of
// coordinates, with a few of the things a block path acts on at random
// places: a path first walks such a block only to see whether anything
// after its first 64 characters counts (a name, a code or a NUL, or a "T"
// before any "(" when none stands in the first 64), and answers it from
// those 64 when nothing does. Tables whose names have digits for second
// bytes (which the walks test first) and letters, and one whose names start
// with 10 different bytes (the AVX units look them up by nibbles).
TEST(Differential, EveryBlockPathAnswersLongBlocksAsTheModelDoes) {
  const std::string marks[] = {"T1",  "T",   "(",  ")",  "M9", "M6",   "G20", "G21",
                               "G52", "G81", "G8", "TA", "AB", "\xe9", "1",   std::string(1, '\0')};
  const std::string comments[] = {"N10 X5.2 Y", "(SPOT DRILL ALL HOLES, CHECK THE CLAMPS) ",
                                  "SPINDLE ONE TO FOURTEEN "};
  const std::string coordinates[] = {"N10 X5.2 Y", "X12.5 "};
  Random random(65);
  for (const char* table : {"81 G81\n7 AB\n", "81 G81\n7 TA\n3 Q3\n", "81 G81\n8 G8\n5 C7\n",
                            "81 G81\n1 A1\n2 B2\n3 C3\n4 D4\n5 E5\n6 F6\n7 H7\n8 J8\n"}) {
    ExpectEveryPathDoesWhatTheModelDoes(table,
                                        BlocksWithMarks(random, 3000, 65, 300, comments, marks, 0));
    ExpectEveryPathDoesWhatTheModelDoes(
        table, BlocksWithMarks(random, 2000, 65, 200, coordinates, marks, 0));
    if (::testing::Test::HasFailure()) return;
  }
}

// Each mark at each position from the 24th character on, in blocks of 66
// to 150 characters (rows of coordinates and comments): around the ends of
// the first 32 and 64 characters, where the paths' walks answer from the
// first half of the head or from all of it, and of the second 64, where
// they hand over from one word to the next.
TEST(Differential, EveryBlockPathAnswersMarksAtWordEndsAsTheModelDoes) {
  const std::string marks[] = {
      "T1", "T", "(", "M9", "G21", "G52", "G81", "TA", std::string(1, '\0')};
  const std::string plains[] = {"N10 X5.2 Y", "(SPOT DRILL ALL HOLES, CHECK THE CLAMPS) "};
  std::vector<std::string> blocks;
  for (const std::size_t length : {66, 90, 130, 150}) {
    for (const std::string& filler : plains) {
      std::string plain;
      while (plain.size() < length) plain += filler;
      plain.resize(length);
      for (const std::string& mark : marks) {
        for (std::size_t at = 24; at < length; ++at) {
          std::string block = plain;
          block.replace(at, mark.size(), mark);
          block.resize(length);
          blocks.push_back(block);
        }
      }
    }
  }
  for (const char* table : {"81 G81\n7 AB\n", "81 G81\n7 TA\n3 Q3\n", "81 G81\n8 G8\n"}) {
    ExpectEveryPathDoesWhatTheModelDoes(table, blocks);
    if (::testing::Test::HasFailure()) return;
  }
}

}  // namespace
}  // namespace ncdrill_test
