// The block scanner: what each kind of block returns, through a dlopen host,
// and the Selections and units it keeps, on the scanner itself.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "interpret/block_scanner.h"
#include "plugin_host.h"

namespace ncdrill {
namespace {

using ncdrill_test::ReadSelectionList;
using ncdrill_test::Session;
using ncdrill_test::TempFolder;

TEST(InterpretBlockResult, TrueForAnAcceptedToolRequestOrG52) {
  Session session("0\n100\n200\n");
  for (const char* block : {"T12", "T12 (A)", "T5 M9", "M90 T3", "N10 T0", "T16384 M9", "G52",
                            "G520 X1", "(A) G52", "t5 G52"}) {
    EXPECT_TRUE(session.Block(block)) << block;
  }
  for (const char* block :
       {"", "(A) T12", "TA T5", "t5", "T", "X1 T", "G5 2", "G81 X10", "T(1)", "M9"}) {
    EXPECT_FALSE(session.Block(block)) << block;
  }
}

TEST(InterpretBlockResult, ExaminesExactlyLengthCharacters) {
  Session session("1\n");
  Interpreter& interpreter = session.interpreter();
  const char buffer[] = "X1 T5 G52";
  EXPECT_FALSE(interpreter.InterpretBlock(buffer, 3));        // "X1 "
  EXPECT_FALSE(interpreter.InterpretBlock(buffer, 4));        // "X1 T": no digit after the T
  EXPECT_TRUE(interpreter.InterpretBlock(buffer, 5));         // "X1 T5"
  EXPECT_FALSE(interpreter.InterpretBlock("X1\0T5 G52", 9));  // a NUL ends the block
  EXPECT_FALSE(interpreter.InterpretBlock(nullptr, 0));
  EXPECT_FALSE(interpreter.InterpretBlock(nullptr, 5));
  EXPECT_FALSE(interpreter.InterpretBlock("T5", -1));
  EXPECT_FALSE(interpreter.InterpretBlock("T5", INT32_MIN));
}

// The scanner on its own, against a table of the given numbers.
class Scanner : public ::testing::Test {
 protected:
  void Load(const std::string& table) {
    folder_.Write("t.txt", table);
    table_.Load((folder_.path() + "t.txt").c_str());
    matcher_.Build(table_.entries());
  }
  bool Scan(std::string_view block) {
    BlockFacts facts;
    matcher_.Examine(block.data(), block.size(), facts);
    return ScanBlock(block.substr(0, facts.length), facts, table_, selections_, inch_);
  }
  std::vector<Selection> Selections() { return ReadSelectionList(selections_.list()); }

  TempFolder folder_;
  DefinitionTable table_;
  BlockMatcher matcher_;
  SelectionStore selections_;
  bool inch_ = false;
};

using List = std::vector<Selection>;

TEST_F(Scanner, SingleRequestsResolveAndPileUpAcrossBlocks) {
  Load("0\n100\n200\n");
  Scan("T150");
  Scan("X1");
  Scan("T99 (A)");
  Scan("T1000");
  Scan("T0");
  EXPECT_EQ(Selections(), (List{{100, 150}, {0, 99}, {200, 1000}, {0, 0}}));
}

TEST_F(Scanner, MaskBitsRequest301To314InBitOrder) {
  Load("301\n303\n");
  EXPECT_TRUE(Scan("T5 M9"));
  EXPECT_EQ(Selections(), (List{{301, 301}, {303, 303}}));
}

TEST_F(Scanner, MaskFoundInsideM90AndHighBitsIgnored) {
  Load("301\n");
  Scan("M90 T3");
  EXPECT_EQ(Selections(), (List{{301, 301}, {301, 302}}));
  EXPECT_TRUE(Scan("T16384 M9"));  // bit 14 only: nothing appended
  EXPECT_TRUE(Scan("T" + std::to_string((1 << 13) | (1 << 20)) + " M9"));
  EXPECT_EQ(Selections(), (List{{301, 301}, {301, 302}, {301, 314}}));
}

// Masks of every weight, between single requests, until the list has run
// through several blocks of nodes: each bit once, in order, linked both ways,
// wherever a mask starts relative to the end of a block of nodes.
TEST_F(Scanner, MasksOfEveryWeightKeepEachBitInOrder) {
  Load("301\n302\n303\n304\n305\n306\n307\n308\n309\n310\n311\n312\n313\n314\n7\n");
  List expected;
  for (std::uint32_t round = 0; round < 40; ++round) {
    const std::uint32_t mask = (round * 0x2f35u + round / 3) & 0x3fffu;
    Scan("T" + std::to_string(mask) + " M9");
    for (int bit = 0; bit < 14; ++bit) {
      if ((mask >> bit) & 1u) expected.push_back({301 + bit, 301 + bit});
    }
    if (round % 3 == 0) {
      Scan("T7");
      expected.push_back({7, 7});
    }
  }
  Scan("T16383 M9");
  for (int bit = 0; bit < 14; ++bit) expected.push_back({301 + bit, 301 + bit});
  EXPECT_GT(expected.size(), 200u);
  EXPECT_EQ(Selections(), expected);
}

TEST_F(Scanner, OnlyTheFirstTIsExamined) {
  Load("5\n");
  EXPECT_FALSE(Scan("TA T5"));
  EXPECT_FALSE(Scan("(T5) T5"));
  EXPECT_TRUE(Scan("T5 T7"));
  EXPECT_EQ(Selections(), (List{{5, 5}}));
}

TEST_F(Scanner, ValuesBeyondInt32Saturate) {
  Load("7\n");
  Scan("T99999999999");
  Scan("T2147483647");
  EXPECT_EQ(Selections(), (List{{7, INT32_MAX}, {7, INT32_MAX}}));
  Scan("T99999999999 M9");  // every mask bit set
  EXPECT_EQ(selections_.size(), 2u + 14u);
}

TEST_F(Scanner, EmptyTableResolvesToMinusOne) {
  Load("");
  Scan("T3");
  EXPECT_EQ(Selections(), (List{{-1, 3}}));
}

TEST_F(Scanner, UnitsFollowOnlyTheFirstG2) {
  Load("");
  const struct {
    const char* block;
    bool inchBefore;
    bool inchAfter;
  } cases[] = {
      {"G20", false, true},   {"G21", true, false},      {"X1 G20", false, true},
      {"G200", false, false}, {"G210", true, true},      {"G2 X1 G20", false, false},
      {"G2", false, false},   {"G22 G20", false, false}, {"G20X1", false, true},
      {"G21.5", true, false}, {"G20 G21", false, true},  {"G17 G2 X1", true, true},
  };
  for (const auto& c : cases) {
    inch_ = c.inchBefore;
    Scan(c.block);
    EXPECT_EQ(inch_, c.inchAfter) << c.block;
  }
  // A block that stops right after "G2" keeps the units.
  inch_ = true;
  Scan(std::string_view("G21", 2));
  EXPECT_TRUE(inch_);
}

}  // namespace
}  // namespace ncdrill
