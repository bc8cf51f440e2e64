// What --explain and --lint say about a block, in words, from what the block
// explainer found. The decisions are the plug-in's; this only words them and
// picks out the surprises.
#ifndef NCDRILL_TOOLS_REPLAY_BLOCK_REVIEW_H
#define NCDRILL_TOOLS_REPLAY_BLOCK_REVIEW_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "interpret/block_explainer.h"
#include "report.h"
#include "table/definition_table.h"

namespace ncdrill_replay {

// A finding about a block, before it is given its file and line.
struct BlockFinding {
  std::size_t column;  // 1-based
  Severity severity;
  const char* kind;
  std::string message;
};

class BlockReview {
 public:
  // `entryLines[i]` is the table line of `table.entries()[i]`.
  BlockReview(const ncdrill::DefinitionTable& table, const std::vector<std::size_t>& entryLines)
      : table_(table), entryLines_(entryLines) {}

  // Whether anything happens in the block: a T-word taken or ignored, a
  // unit code, "G52", a name that occurs.
  static bool Eventful(const ncdrill::BlockExplanation& block);

  // What the plug-in decided, in order, with the reason of each decision.
  void Explain(const ncdrill::BlockExplanation& block, std::vector<Decision>& out) const;

  // The surprises in the block.
  void Find(const ncdrill::BlockExplanation& block, std::vector<BlockFinding>& out) const;

 private:
  std::string NameOf(std::size_t entry) const;  // quoted, blanks made visible
  std::string Where(std::size_t entry) const;   // "table line N"

  void ExplainToolWord(const ncdrill::BlockExplanation& block, std::vector<Decision>& out) const;
  void ExplainUnits(const ncdrill::BlockExplanation& block, std::vector<Decision>& out) const;
  void ExplainNames(const ncdrill::BlockExplanation& block, std::vector<Decision>& out) const;
  void ExplainDrill(const ncdrill::BlockExplanation& block, std::vector<Decision>& out) const;

  void FindIgnoredToolWords(const ncdrill::BlockExplanation& block,
                            std::vector<BlockFinding>& out) const;
  void FindMaskSurprises(const ncdrill::BlockExplanation& block,
                         std::vector<BlockFinding>& out) const;
  void FindRequestSurprises(const ncdrill::BlockExplanation& block,
                            std::vector<BlockFinding>& out) const;
  void FindHiddenUnits(const ncdrill::BlockExplanation& block,
                       std::vector<BlockFinding>& out) const;
  void FindNameSurprises(const ncdrill::BlockExplanation& block,
                         std::vector<BlockFinding>& out) const;

  const ncdrill::DefinitionTable& table_;
  const std::vector<std::size_t>& entryLines_;
};

// Why a request resolved to its slot: "in the table", "no 13, 14 or 15 in
// the table: the next lower number is 12", ...
std::string SlotReason(const Selection& selection);

}  // namespace ncdrill_replay

#endif
