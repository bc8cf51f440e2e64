#include "interpret/block_explainer.h"

#include <algorithm>
#include <string>
#include <unordered_set>
#include <utility>

#include "interpret/drill_trigger.h"

namespace ncdrill {
namespace {

constexpr std::size_t kEnd = std::string_view::npos;

bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// Every `letter` that a digit follows.
void LettersBeforeDigits(std::string_view block, char letter, std::vector<std::size_t>& out) {
  out.clear();
  for (std::size_t at = block.find(letter); at != kEnd; at = block.find(letter, at + 1)) {
    if (at + 1 < block.size() && IsDigit(block[at + 1])) out.push_back(at);
  }
}

void FindAll(std::string_view block, std::string_view pattern, std::vector<std::size_t>& out) {
  out.clear();
  for (std::size_t at = block.find(pattern); at != kEnd; at = block.find(pattern, at + 1)) {
    out.push_back(at);
  }
}

// A comment runs from "(" to the next ")", or to the end of the block.
void FindComments(std::string_view block, std::vector<TextSpan>& out) {
  out.clear();
  for (std::size_t open = block.find('('); open != kEnd;) {
    const std::size_t close = block.find(')', open + 1);
    const std::size_t end = close == kEnd ? block.size() : close + 1;
    out.push_back(TextSpan{open, end});
    open = block.find('(', end);
  }
}

// Whether decimal `digits` stand for more than INT32_MAX.
bool Saturates(std::string_view digits) noexcept {
  const std::size_t first = digits.find_first_not_of('0');
  if (first == kEnd) return false;
  const std::string_view significant = digits.substr(first);
  constexpr std::string_view kMax = "2147483647";
  return significant.size() > kMax.size() ||
         (significant.size() == kMax.size() && significant > kMax);
}

std::size_t DigitsAt(std::string_view block, std::size_t at) noexcept {
  std::size_t end = at;
  while (end < block.size() && IsDigit(block[end])) ++end;
  return end - at;
}

bool TriggersBefore(std::string_view block, std::size_t after) noexcept {
  return after >= block.size() || !ContinuesNumber(static_cast<unsigned char>(block[after]));
}

ToolWordExplanation ExplainToolWord(std::string_view block, const BlockFacts& facts) {
  ToolWordExplanation word;
  word.at = facts.firstT;
  if (facts.firstT == BlockFacts::kNone) return word;
  if (AcceptedToolWord(block, facts, word.value)) {
    word.status = ToolWordExplanation::Status::kAccepted;
    word.digits = DigitsAt(block, facts.firstT + 1);
    word.saturated = Saturates(block.substr(facts.firstT + 1, word.digits));
    word.isMask = facts.hasM9;
    if (word.isMask) {
      word.ignoredBits = static_cast<std::uint32_t>(word.value) >> DefinitionTable::kMaskBits;
    }
  } else if (facts.parenBeforeT) {
    word.status = ToolWordExplanation::Status::kAfterParen;
    word.paren = block.find('(');
  } else {
    word.status = ToolWordExplanation::Status::kNoDigit;
  }
  return word;
}

// The first "G2" after the one that counts which would have selected units.
std::size_t LaterUnitCode(std::string_view block, std::size_t firstG2) noexcept {
  if (firstG2 == kNoPosition) return kNoPosition;
  for (std::size_t at = block.find("G2", firstG2 + 1); at != kEnd; at = block.find("G2", at + 1)) {
    if (UnitCodeAt(block, at) != UnitCode::kNone) return at;
  }
  return kNoPosition;
}

}  // namespace

bool BlockExplanation::InComment(std::size_t at) const noexcept {
  return std::any_of(comments.begin(), comments.end(),
                     [at](const TextSpan& span) { return at >= span.begin && at < span.end; });
}

BlockExplainer::BlockExplainer(std::vector<TableEntry> entries) {
  table_.Adopt(std::move(entries));
  matcher_.Build(table_.entries());
  selections_.Reserve();
  std::unordered_set<std::string_view> seen;
  const std::vector<TableEntry>& all = table_.entries();
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (!all[i].name.empty() && seen.insert(all[i].name).second) distinctNames_.push_back(i);
  }
}

void BlockExplainer::ExplainNames(BlockExplanation& out) const {
  out.names.clear();
  const std::string_view block = out.text;
  for (const std::size_t entry : distinctNames_) {
    const std::string& name = table_.entries()[entry].name;
    const std::size_t at = block.find(name);
    if (at == kEnd) continue;
    NameExplanation seen{entry, at, at + name.size(), TriggersBefore(block, at + name.size())};
    for (std::size_t later = at; !seen.triggers && seen.laterTrigger == kNoPosition;) {
      later = block.find(name, later + 1);
      if (later == kEnd) break;
      if (TriggersBefore(block, later + name.size())) seen.laterTrigger = later;
    }
    out.names.push_back(seen);
  }
}

void BlockExplainer::TakeNewRequests(std::uint32_t before, BlockExplanation& out) const {
  const SelectionList& list = selections_.list();
  out.requests.resize(list.count - before);
  const SelectionNode* node = list.sentinel->prev;
  for (std::size_t i = out.requests.size(); i > 0; --i, node = node->prev) {
    out.requests[i - 1] = node->selection;
  }
}

void BlockExplainer::Explain(const char* text, std::size_t size, BlockExplanation& out) {
  BlockFacts facts;
  matcher_.Examine(text, size, facts);
  const std::string_view block(text, facts.length);
  out.text = block;
  FindComments(block, out.comments);
  out.toolWord = ExplainToolWord(block, facts);
  LettersBeforeDigits(block, 'T', out.digitTs);
  LettersBeforeDigits(block, 't', out.lowercaseDigitTs);
  FindAll(block, "M9", out.m9s);
  out.g52 = block.find("G52");

  out.inchBefore = unitsInch_;
  const std::uint32_t before = selections_.size();
  out.result = ScanBlock(block, facts, table_, selections_, unitsInch_);
  out.inchAfter = unitsInch_;
  TakeNewRequests(before, out);
  out.firstG2 = facts.firstG2;
  out.unitCode = UnitCodeAt(block, facts.firstG2);
  out.laterUnitCode = LaterUnitCode(block, facts.firstG2);

  ExplainNames(out);
  out.trigger = facts.trigger;
  out.handedOver.clear();
  if (facts.trigger == BlockFacts::kNone) return;
  const SelectionList& list = selections_.list();
  for (const SelectionNode* node = list.sentinel->next; node != list.sentinel; node = node->next) {
    out.handedOver.push_back(node->selection);
  }
  // No host: the records get their values and the Selections are removed,
  // as in the plug-in.
  DeliverDrillBlock(table_.entries()[facts.trigger], unitsInch_, table_, selections_, nullptr);
}

}  // namespace ncdrill
