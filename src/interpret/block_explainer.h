// Why a block did or did not make a drill block, for people. The explainer
// interprets each block with the plug-in's own matcher, scanner and trigger,
// on a table and Selections of its own, and keeps the detail a person needs
// beside the outcome: where the T-word stands and why it was taken or not,
// the reason of each slot, the names that occur and the character after
// each, the comments. ncdrill.so never calls it: its block path stays as
// lean as before.
#ifndef NCDRILL_INTERPRET_BLOCK_EXPLAINER_H
#define NCDRILL_INTERPRET_BLOCK_EXPLAINER_H

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "interpret/block_matcher.h"
#include "interpret/block_scanner.h"
#include "interpret/selection_store.h"
#include "ncdrill/ncdrill.h"
#include "table/definition_table.h"

namespace ncdrill {

// Positions are 0-based byte offsets into the block.
constexpr std::size_t kNoPosition = BlockFacts::kNone;

// The characters [begin, end) of the block.
struct TextSpan {
  std::size_t begin;
  std::size_t end;
};

struct ToolWordExplanation {
  enum class Status {
    kAbsent,      // no "T" in the block
    kAccepted,    // a tool request
    kAfterParen,  // a "(" comes before the first "T"
    kNoDigit,     // no digit right after the first "T"
  };
  Status status = Status::kAbsent;
  std::size_t at = kNoPosition;     // the block's first "T"
  std::size_t paren = kNoPosition;  // the block's first "(", when it comes before the "T"
  // When accepted:
  std::int32_t value = 0;
  std::size_t digits = 0;  // how many digits follow the "T"
  bool saturated = false;  // the digits are beyond INT32_MAX, which they read as
  bool isMask = false;     // the block holds "M9": the value is a mask over 301 to 314
  std::uint32_t ignoredBits =
      0;  // mask bits 14 and above, shifted down by 14: they ask for nothing
};

// A table name that occurs in the block: only its first occurrence counts.
struct NameExplanation {
  std::size_t entry;  // the first entry, in table order, with this name
  std::size_t at;     // its first occurrence
  std::size_t after;  // the character that decides (the block's size: the end)
  bool triggers;      // no '.', ',', '-', '+' or digit follows
  // A later occurrence that would have triggered, had it been the first.
  std::size_t laterTrigger = kNoPosition;
};

struct BlockExplanation {
  std::string_view text;  // the block before its first NUL
  bool result = false;    // what InterpretBlock returns

  ToolWordExplanation toolWord;
  std::vector<std::size_t> digitTs;           // every "T" followed by a digit
  std::vector<std::size_t> lowercaseDigitTs;  // every "t" followed by a digit
  std::vector<std::size_t> m9s;               // every "M9"
  std::vector<Selection> requests;            // appended by this block, in order
  std::size_t g52 = kNoPosition;              // the first "G52"

  bool inchBefore = false;
  bool inchAfter = false;
  std::size_t firstG2 = kNoPosition;  // the only "G2" that counts
  UnitCode unitCode = UnitCode::kNone;
  std::size_t laterUnitCode = kNoPosition;  // the first later G20 or G21, which does not count

  std::vector<NameExplanation> names;  // in table order
  std::size_t trigger = kNoPosition;   // index of the triggering entry
  std::vector<Selection> handedOver;   // the Selections of the drill block
  std::vector<TextSpan> comments;      // "(" to ")" or to the block's end

  // Whether `at` lies inside a comment.
  bool InComment(std::size_t at) const noexcept;
};

class BlockExplainer {
 public:
  // A fresh interpreter's state on the table of `entries`, read as the
  // plug-in reads its file. Throws std::bad_alloc.
  explicit BlockExplainer(std::vector<TableEntry> entries);
  BlockExplainer(const BlockExplainer&) = delete;
  BlockExplainer& operator=(const BlockExplainer&) = delete;

  // Interprets the `size` characters at `text` as InterpretBlock does, and
  // says why into `out`, whose vectors are reused. After a drill block the
  // table's records hold the values the plug-in gave them. Throws
  // std::bad_alloc.
  void Explain(const char* text, std::size_t size, BlockExplanation& out);

  const DefinitionTable& table() const noexcept { return table_; }
  bool unitsInch() const noexcept { return unitsInch_; }
  // Selections kept for the next drill block.
  std::uint32_t pendingRequests() const noexcept { return selections_.size(); }

 private:
  void ExplainNames(BlockExplanation& out) const;
  void TakeNewRequests(std::uint32_t before, BlockExplanation& out) const;

  // The matcher first: its tables are aligned to 64 bytes.
  BlockMatcher matcher_;
  std::vector<std::size_t> distinctNames_;  // the first entry of each name, in table order
  SelectionStore selections_;
  DefinitionTable table_;
  bool unitsInch_ = false;
};

}  // namespace ncdrill

#endif
