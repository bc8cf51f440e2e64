#include "block_review.h"

#include <cstdint>
#include <string_view>

#include "explain_table.h"
#include "interpret/block_scanner.h"

namespace ncdrill_replay {
namespace {

using ncdrill::BlockExplanation;
using ncdrill::kNoPosition;
using ncdrill::NameExplanation;
using ncdrill::UnitCode;
using Status = ncdrill::ToolWordExplanation::Status;

std::string N(std::int64_t n) { return std::to_string(n); }

std::size_t Column(std::size_t at) { return at + 1; }

std::string At(std::size_t at) { return "column " + N(static_cast<std::int64_t>(Column(at))); }

std::string Quoted(std::string_view text) { return "\"" + Visible(text) + "\""; }

// The character at `at`, as a person reads it in a message.
std::string CharacterAt(std::string_view block, std::size_t at) {
  if (at >= block.size()) return "the end of the block";
  if (block[at] == ' ') return "a blank";
  return "'" + Visible(block.substr(at, 1)) + "'";
}

// "T15" as it stands in the block.
std::string ToolWordText(const BlockExplanation& block, std::size_t at) {
  std::size_t end = at + 1;
  while (end < block.text.size() && block.text[end] >= '0' && block.text[end] <= '9') ++end;
  return Quoted(block.text.substr(at, end - at));
}

std::string UnitsName(bool inch) { return inch ? "inch" : "metric"; }

std::string UnitCodeText(UnitCode code) { return code == UnitCode::kInch ? "G20" : "G21"; }

bool IsMaskRequest(const BlockExplanation& block) { return block.toolWord.isMask; }

// "15" for a single request, "spindle 303 (bit 2)" for a mask bit.
std::string RequestName(const BlockExplanation& block, const Selection& selection) {
  if (!IsMaskRequest(block)) return N(selection.requested);
  return "spindle " + N(selection.requested) + " (bit " +
         N(selection.requested - ncdrill::DefinitionTable::kFirstMaskRequest) + ")";
}

// "0, 1 and 2".
std::string ListOf(const std::vector<std::string>& items) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += i + 1 == items.size() ? " and " : ", ";
    out += items[i];
  }
  return out;
}

std::vector<std::string> SetBits(std::uint32_t bits, int offset) {
  std::vector<std::string> set;
  for (int bit = 0; bit < 32; ++bit) {
    if ((bits >> bit) & 1u) set.push_back(N(bit + offset));
  }
  return set;
}

std::uint32_t LowMaskBits(std::int32_t value) {
  return static_cast<std::uint32_t>(value) & ((1u << ncdrill::DefinitionTable::kMaskBits) - 1);
}

// The first "M9" that stands as a code of its own outside comments, or
// kNoPosition when every one is part of M90-M99 or of a comment.
std::size_t StandaloneM9(const BlockExplanation& block) {
  for (const std::size_t at : block.m9s) {
    const bool digitFollows =
        at + 2 < block.text.size() && block.text[at + 2] >= '0' && block.text[at + 2] <= '9';
    if (!digitFollows && !block.InComment(at)) return at;
  }
  return kNoPosition;
}

// Whether a longer table name starts where `name` does: then the name is
// part of that one ("G8" in "G81"), not a near miss.
bool PartOfLongerName(const BlockExplanation& block, const NameExplanation& name,
                      const std::vector<ncdrill::TableEntry>& entries) {
  const std::size_t length = name.after - name.at;
  for (const NameExplanation& other : block.names) {
    const std::string& text = entries[other.entry].name;
    if (text.size() > length && block.text.compare(name.at, text.size(), text) == 0) return true;
  }
  return false;
}

// A "T" that is a letter of a word, with no T-word anywhere in the block,
// asks for nothing and surprises nobody: only T-words are explained.
bool HasToolWord(const BlockExplanation& block) {
  return block.toolWord.status == Status::kAccepted || !block.digitTs.empty();
}

}  // namespace

std::string SlotReason(const Selection& selection) {
  const std::int64_t requested = selection.requested;
  const std::int64_t slot = selection.slot;
  if (slot == requested) return "in the table";
  if (slot < 0) {
    if (requested == 0) return "no 0 in the table";
    return "no number from 0 to " + N(requested) + " in the table";
  }
  const std::int64_t missing = requested - slot;
  std::string none;
  if (missing <= 3) {
    std::vector<std::string> numbers;
    for (std::int64_t n = slot + 1; n <= requested; ++n) numbers.push_back(N(n));
    none = "no " + ListOf(numbers) + " in the table";
    if (missing > 1) none.replace(none.rfind(" and "), 5, " or ");
  } else {
    none = "no number from " + N(slot + 1) + " to " + N(requested) + " in the table";
  }
  return none + ": the next lower number is " + N(slot);
}

std::string BlockReview::NameOf(std::size_t entry) const {
  return Quoted(table_.entries()[entry].name);
}

std::string BlockReview::Where(std::size_t entry) const {
  return "table line " + N(static_cast<std::int64_t>(entryLines_[entry]));
}

bool BlockReview::Eventful(const BlockExplanation& block) {
  return HasToolWord(block) || !block.lowercaseDigitTs.empty() || block.g52 != kNoPosition ||
         block.unitCode != UnitCode::kNone || block.laterUnitCode != kNoPosition ||
         !block.names.empty();
}

void BlockReview::Explain(const BlockExplanation& block, std::vector<Decision>& out) const {
  out.clear();
  ExplainToolWord(block, out);
  for (const Selection& selection : block.requests) {
    out.push_back({"request", Column(block.toolWord.at),
                   "request " + RequestName(block, selection) + " -> slot " + N(selection.slot) +
                       ": " + SlotReason(selection)});
  }
  if (block.g52 != kNoPosition) {
    out.push_back({"g52", Column(block.g52), "\"G52\": the block returns true"});
  }
  ExplainUnits(block, out);
  ExplainNames(block, out);
  ExplainDrill(block, out);
  out.push_back(
      {"result", 0, std::string("InterpretBlock returns ") + (block.result ? "true" : "false")});
}

void BlockReview::ExplainToolWord(const BlockExplanation& block, std::vector<Decision>& out) const {
  const ncdrill::ToolWordExplanation& word = block.toolWord;
  switch (HasToolWord(block) ? word.status : Status::kAbsent) {
    case Status::kAbsent:
      break;
    case Status::kAfterParen:
      out.push_back({"tool-word", Column(word.at),
                     R"(the block's first "T" is no tool request: the "(" at )" + At(word.paren) +
                         " comes before it"});
      break;
    case Status::kNoDigit:
      out.push_back({"tool-word", Column(word.at),
                     "the block's first \"T\" is no tool request: " +
                         CharacterAt(block.text, word.at + 1) + " follows it, not a digit"});
      break;
    case Status::kAccepted: {
      std::string what = ToolWordText(block, word.at) + " is a tool request";
      if (word.saturated) what += "; its digits are beyond 2147483647, and read as 2147483647";
      if (word.isMask) {
        const std::vector<std::string> bits = SetBits(LowMaskBits(word.value), 0);
        what += "; \"M9\" at " + At(block.m9s.front()) + " makes " + N(word.value) + " a mask";
        what += bits.empty() ? " that sets none of bits 0 to 13: it asks for nothing"
                             : ": bits " + ListOf(bits) + " ask for spindles " +
                                   ListOf(SetBits(LowMaskBits(word.value), 301));
        if (word.ignoredBits != 0) {
          what += "; bits " + ListOf(SetBits(word.ignoredBits, 14)) + " ask for nothing";
        }
      } else {
        what += " for " + N(word.value);
      }
      out.push_back({"tool-word", Column(word.at), what});
      break;
    }
  }
  for (const std::size_t at : block.digitTs) {
    if (at == word.at) continue;
    out.push_back({"tool-word", Column(at),
                   ToolWordText(block, at) + " is ignored: only the block's first \"T\" counts"});
  }
  for (const std::size_t at : block.lowercaseDigitTs) {
    out.push_back(
        {"tool-word", Column(at),
         ToolWordText(block, at) + " is no tool request: only a capital \"T\" makes one"});
  }
}

void BlockReview::ExplainUnits(const BlockExplanation& block, std::vector<Decision>& out) const {
  const std::string after =
      block.inchBefore == block.inchAfter
          ? "units stay " + UnitsName(block.inchAfter)
          : "units " + UnitsName(block.inchBefore) + " -> " + UnitsName(block.inchAfter);
  if (block.unitCode != UnitCode::kNone) {
    out.push_back(
        {"units", Column(block.firstG2), "\"" + UnitCodeText(block.unitCode) + "\": " + after});
  }
  if (block.laterUnitCode == kNoPosition) return;
  const UnitCode later = ncdrill::UnitCodeAt(block.text, block.laterUnitCode);
  std::string why =
      "\"" + UnitCodeText(later) + R"(" changes nothing: only the block's first "G2")";
  why += block.unitCode == UnitCode::kNone
             ? ", at " + At(block.firstG2) + ", counts, and it is neither G20 nor G21; " + after
             : " counts";
  out.push_back({"units", Column(block.laterUnitCode), why});
}

void BlockReview::ExplainNames(const BlockExplanation& block, std::vector<Decision>& out) const {
  for (const NameExplanation& name : block.names) {
    std::string what = NameOf(name.entry) + " (" + Where(name.entry) + ", number " +
                       N(table_.entries()[name.entry].number) + ")";
    if (name.entry == block.trigger) {
      what += " triggers: " + CharacterAt(block.text, name.after) + " follows it";
      if (block.InComment(name.at)) what += "; it stands inside a comment";
      out.push_back({"trigger", Column(name.at), what});
    } else if (name.triggers) {
      out.push_back(
          {"name", Column(name.at),
           what + " would trigger, but " + NameOf(block.trigger) + " comes first in the table"});
    } else {
      what += " does not trigger: " + CharacterAt(block.text, name.after) + " follows it";
      if (name.laterTrigger != kNoPosition) {
        what += "; the one at " + At(name.laterTrigger) +
                " would trigger, but only the first occurrence counts";
      }
      out.push_back({"near-miss", Column(name.at), what});
    }
  }
}

void BlockReview::ExplainDrill(const BlockExplanation& block, std::vector<Decision>& out) const {
  if (block.trigger == kNoPosition) return;
  std::string what = "drill block: the terminal record gets " + N(table_.terminalNumber()) + "; ";
  if (block.handedOver.empty()) {
    what += "no Selections are handed over";
  } else {
    what += N(static_cast<std::int64_t>(block.handedOver.size())) + " Selection" +
            (block.handedOver.size() == 1 ? "" : "s") + " handed over:";
    for (std::size_t i = 0; i < block.handedOver.size(); ++i) {
      what += (i == 0 ? " (" : ", (") + N(block.handedOver[i].slot) + ", " +
              N(block.handedOver[i].requested) + ")";
    }
  }
  what += "; the records they name get 0, every other " +
          std::string(block.inchAfter ? "5" : "127") + " (five inches, " +
          UnitsName(block.inchAfter) + ")";
  out.push_back({"drill", 0, what});
}

void BlockReview::Find(const BlockExplanation& block, std::vector<BlockFinding>& out) const {
  out.clear();
  FindIgnoredToolWords(block, out);
  FindMaskSurprises(block, out);
  FindRequestSurprises(block, out);
  FindHiddenUnits(block, out);
  FindNameSurprises(block, out);
}

void BlockReview::FindIgnoredToolWords(const BlockExplanation& block,
                                       std::vector<BlockFinding>& out) const {
  const ncdrill::ToolWordExplanation& word = block.toolWord;
  if (word.status == Status::kAfterParen || word.status == Status::kNoDigit) {
    for (const std::size_t at : block.digitTs) {
      if (block.InComment(at)) continue;
      const std::string why =
          word.status == Status::kAfterParen
              ? "the \"(\" at " + At(word.paren) +
                    " comes before the block's first \"T\", and a T-word counts only before it"
              : "only the block's first \"T\" counts, and the one at " + At(word.at) +
                    " is followed by " + CharacterAt(block.text, word.at + 1) + ", not a digit";
      out.push_back({Column(at), Severity::kWarning, "ignored-tool-word",
                     ToolWordText(block, at) + " is no tool request: " + why});
      break;
    }
  }
  for (const std::size_t at : block.lowercaseDigitTs) {
    if (block.InComment(at)) continue;
    out.push_back(
        {Column(at), Severity::kWarning, "lowercase-t",
         ToolWordText(block, at) + " is no tool request: only a capital \"T\" makes one"});
  }
}

void BlockReview::FindMaskSurprises(const BlockExplanation& block,
                                    std::vector<BlockFinding>& out) const {
  const ncdrill::ToolWordExplanation& word = block.toolWord;
  if (word.status != Status::kAccepted) return;
  if (word.saturated) {
    out.push_back({Column(word.at), Severity::kWarning, "saturated-value",
                   ToolWordText(block, word.at) +
                       ": the value is beyond 2147483647 and is read as 2147483647"});
  }
  if (!word.isMask) return;
  if (StandaloneM9(block) == kNoPosition) {
    const std::size_t m9 = block.m9s.front();
    const std::string inside = block.InComment(m9)
                                   ? "inside a comment"
                                   : "inside \"" + std::string(block.text.substr(m9, 3)) + "\"";
    out.push_back({Column(m9), Severity::kWarning, "m9-inside-code",
                   "\"M9\" " + inside + " makes " + ToolWordText(block, word.at) +
                       " a mask of spindles, not a request for tool " + N(word.value)});
  }
  if (word.ignoredBits != 0) {
    std::string message = "the mask " + N(word.value) + " sets bit" +
                          (SetBits(word.ignoredBits, 14).size() == 1 ? " " : "s ") +
                          ListOf(SetBits(word.ignoredBits, 14)) +
                          ", above 13: only bits 0 to 13 ask for spindles (301 to 314)";
    if (LowMaskBits(word.value) == 0) message += "; this block asks for nothing";
    out.push_back({Column(word.at), Severity::kWarning, "mask-bits-above-13", message});
  }
}

void BlockReview::FindRequestSurprises(const BlockExplanation& block,
                                       std::vector<BlockFinding>& out) const {
  for (const Selection& selection : block.requests) {
    if (selection.slot == selection.requested) continue;
    const std::string what = ToolWordText(block, block.toolWord.at) + " asks for " +
                             RequestName(block, selection) + ", which resolves to " +
                             N(selection.slot) + ": " + SlotReason(selection);
    if (selection.slot < 0) {
      out.push_back({Column(block.toolWord.at), Severity::kWarning, "no-slot", what});
    } else {
      out.push_back({Column(block.toolWord.at), Severity::kNote, "lower-slot", what});
    }
  }
}

void BlockReview::FindHiddenUnits(const BlockExplanation& block,
                                  std::vector<BlockFinding>& out) const {
  if (block.laterUnitCode == kNoPosition) return;
  const UnitCode later = ncdrill::UnitCodeAt(block.text, block.laterUnitCode);
  if (later == block.unitCode) return;
  const std::string first =
      block.unitCode == UnitCode::kNone
          ? "the first one, at " + At(block.firstG2) + ", is neither G20 nor G21"
          : "the first one, at " + At(block.firstG2) + ", is " + UnitCodeText(block.unitCode);
  out.push_back({Column(block.laterUnitCode), Severity::kWarning, "hidden-units",
                 "\"" + UnitCodeText(later) + "\" does not switch to " +
                     (later == UnitCode::kInch ? "inch" : "metric") +
                     ": only the block's first \"G2\" counts, and " + first + "; units stay " +
                     UnitsName(block.inchAfter)});
}

void BlockReview::FindNameSurprises(const BlockExplanation& block,
                                    std::vector<BlockFinding>& out) const {
  for (const NameExplanation& name : block.names) {
    if (name.entry == block.trigger && block.InComment(name.at)) {
      out.push_back({Column(name.at), Severity::kWarning, "trigger-in-comment",
                     NameOf(name.entry) + " inside a comment makes a drill block (" +
                         Where(name.entry) + ", number " + N(table_.entries()[name.entry].number) +
                         ")"});
    }
    if (name.triggers || PartOfLongerName(block, name, table_.entries())) continue;
    if (block.InComment(name.at) && name.laterTrigger == kNoPosition) continue;
    std::string message = NameOf(name.entry) + " (" + Where(name.entry) +
                          ") does not trigger: " + CharacterAt(block.text, name.after) +
                          " follows it";
    if (name.laterTrigger != kNoPosition) {
      message += "; the one at " + At(name.laterTrigger) +
                 " would trigger, but only the first occurrence counts";
    }
    out.push_back({Column(name.at), Severity::kWarning, "near-miss", message});
  }
}

}  // namespace ncdrill_replay
