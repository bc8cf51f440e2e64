// The block explainer: the detail it keeps beside the outcome. That the
// outcome is the plug-in's own is checked on random programs in
// differential_test.cpp.
#include "interpret/block_explainer.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "plugin_host.h"

namespace ncdrill {
namespace {

using Status = ToolWordExplanation::Status;
using Positions = std::vector<std::size_t>;

class Explainer : public ::testing::Test {
 protected:
  void Load(const std::vector<TableEntry>& entries) {
    explainer_ = std::make_unique<BlockExplainer>(entries);
  }
  const BlockExplanation& Explain(std::string_view block) {
    explainer_->Explain(block.data(), block.size(), explanation_);
    return explanation_;
  }

  std::unique_ptr<BlockExplainer> explainer_;
  BlockExplanation explanation_;
};

TEST_F(Explainer, ToolWordsSayWhyTheyWereTakenOrNot) {
  Load({{"", 0}, {"", 12}, {"", 301}});
  const BlockExplanation& taken = Explain("N5 T15 M6");
  EXPECT_EQ(taken.toolWord.status, Status::kAccepted);
  EXPECT_EQ(taken.toolWord.at, 3u);
  EXPECT_EQ(taken.toolWord.value, 15);
  EXPECT_FALSE(taken.toolWord.isMask);
  EXPECT_EQ(taken.requests, (std::vector<Selection>{{12, 15}}));
  EXPECT_TRUE(taken.result);

  const BlockExplanation& afterParen = Explain("(A) T12");
  EXPECT_EQ(afterParen.toolWord.status, Status::kAfterParen);
  EXPECT_EQ(afterParen.toolWord.paren, 0u);
  EXPECT_EQ(afterParen.digitTs, (Positions{4}));
  EXPECT_TRUE(afterParen.requests.empty());
  EXPECT_FALSE(afterParen.result);

  const BlockExplanation& noDigit = Explain("TA T5 t7");
  EXPECT_EQ(noDigit.toolWord.status, Status::kNoDigit);
  EXPECT_EQ(noDigit.digitTs, (Positions{3}));
  EXPECT_EQ(noDigit.lowercaseDigitTs, (Positions{6}));

  EXPECT_EQ(Explain("X1").toolWord.status, Status::kAbsent);
}

TEST_F(Explainer, ValuesAndMasks) {
  Load({{"", 301}, {"", 302}});
  const BlockExplanation& huge = Explain("T0099999999999");
  EXPECT_TRUE(huge.toolWord.saturated);
  EXPECT_EQ(huge.toolWord.digits, 13u);
  EXPECT_EQ(huge.toolWord.value, INT32_MAX);
  EXPECT_FALSE(Explain("T002147483647").toolWord.saturated);

  const BlockExplanation& mask = Explain("M90 T" + std::to_string(3 | 1 << 14 | 1 << 16));
  EXPECT_TRUE(mask.toolWord.isMask);
  EXPECT_EQ(mask.m9s, (Positions{0}));
  EXPECT_EQ(mask.toolWord.ignoredBits, 5u);
  EXPECT_EQ(mask.requests, (std::vector<Selection>{{301, 301}, {302, 302}}));
}

TEST_F(Explainer, UnitsFollowTheFirstG2AndNoteALaterCode) {
  Load({});
  const BlockExplanation& hidden = Explain("G2 X1 G20");
  EXPECT_EQ(hidden.firstG2, 0u);
  EXPECT_EQ(hidden.unitCode, UnitCode::kNone);
  EXPECT_EQ(hidden.laterUnitCode, 6u);
  EXPECT_FALSE(hidden.inchAfter);

  const BlockExplanation& inch = Explain("G20 G21");
  EXPECT_EQ(inch.unitCode, UnitCode::kInch);
  EXPECT_EQ(inch.laterUnitCode, 4u);
  EXPECT_FALSE(inch.inchBefore);
  EXPECT_TRUE(inch.inchAfter);
  EXPECT_EQ(Explain("G200 G52").laterUnitCode, kNoPosition);
  EXPECT_EQ(explanation_.g52, 5u);
  EXPECT_TRUE(explanation_.result);
}

TEST_F(Explainer, NamesSayWhatStoppedThemAndWhatTriggered) {
  Load({{"X", 1}, {"G8", 8}, {"G81", 81}, {"G81", 82}, {"", 5}});
  const BlockExplanation& block = Explain("X10 G81 X (C)");
  ASSERT_EQ(block.names.size(), 3u);  // the second G81 is the same name
  EXPECT_EQ(block.names[0].entry, 0u);
  EXPECT_EQ(block.names[0].after, 1u);
  EXPECT_FALSE(block.names[0].triggers);
  EXPECT_EQ(block.names[0].laterTrigger, 8u);
  EXPECT_FALSE(block.names[1].triggers);  // "G8" before "1"
  EXPECT_EQ(block.names[1].laterTrigger, kNoPosition);
  EXPECT_TRUE(block.names[2].triggers);
  EXPECT_EQ(block.trigger, 2u);
  EXPECT_EQ(explainer_->table().terminalNumber(), -81);
  ASSERT_EQ(block.comments.size(), 1u);
  EXPECT_TRUE(block.InComment(10));
  EXPECT_FALSE(block.InComment(9));
}

TEST_F(Explainer, DrillBlocksHandOverThePileAndEmptyIt) {
  Load({{"", 5}, {"G81", 81}});
  Explain("T5");
  Explain("T7");
  EXPECT_EQ(explainer_->pendingRequests(), 2u);
  const BlockExplanation& drill = Explain("G81 T3");
  EXPECT_EQ(drill.handedOver, (std::vector<Selection>{{5, 5}, {5, 7}, {-1, 3}}));
  EXPECT_EQ(explainer_->pendingRequests(), 0u);
  EXPECT_EQ(explainer_->table().records()[0].value, 0.0f);
  EXPECT_EQ(explainer_->table().records()[1].value, 127.0f);
  // A NUL ends the block.
  EXPECT_EQ(Explain(std::string_view("G81\0T1", 6)).text, "G81");
  EXPECT_TRUE(explanation_.requests.empty());
}

}  // namespace
}  // namespace ncdrill
