#include "interpret/block_scanner.h"

#include <limits>

namespace ncdrill {
namespace {

bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// The digits at the start of `digits`, as a 32-bit atol that clamps.
std::int32_t LeadingNumber(std::string_view digits) noexcept {
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  std::int64_t value = 0;
  for (const char c : digits) {
    if (!IsDigit(c)) break;
    value = value * 10 + (c - '0');
    if (value > kMax) return static_cast<std::int32_t>(kMax);
  }
  return static_cast<std::int32_t>(value);
}

void AppendRequests(std::int32_t value, bool isMask, const DefinitionTable& table,
                    SelectionStore& selections) noexcept {
  if (!isMask) {
    const NumberIndex::Resolved resolved = table.Resolve(value);
    selections.Append(Selection{resolved.slot, value}, resolved.markRank);
    return;
  }
  const auto bits = static_cast<std::uint32_t>(value) & ((1u << DefinitionTable::kMaskBits) - 1);
  for (std::uint32_t rest = bits; rest != 0; rest &= rest - 1) {
    const int bit = __builtin_ctz(rest);
    const NumberIndex::Resolved& resolved = table.ResolveMaskBit(bit);
    selections.Append(Selection{resolved.slot, DefinitionTable::kFirstMaskRequest + bit},
                      resolved.markRank);
  }
}

bool UnitsAfter(std::string_view block, std::size_t g2, bool unitsInch) noexcept {
  switch (UnitCodeAt(block, g2)) {
    case UnitCode::kInch:
      return true;
    case UnitCode::kMetric:
      return false;
    case UnitCode::kNone:
      break;
  }
  return unitsInch;
}

}  // namespace

bool AcceptedToolWord(std::string_view block, const BlockFacts& facts,
                      std::int32_t& value) noexcept {
  const std::size_t t = facts.firstT;
  if (t == BlockFacts::kNone || facts.parenBeforeT || t + 1 >= block.size() ||
      !IsDigit(block[t + 1])) {
    return false;
  }
  value = LeadingNumber(block.substr(t + 1));
  return true;
}

UnitCode UnitCodeAt(std::string_view block, std::size_t g2) noexcept {
  if (g2 == BlockFacts::kNone || g2 + 2 >= block.size()) return UnitCode::kNone;
  const char c1 = block[g2 + 2];
  const bool c2IsDigit = g2 + 3 < block.size() && IsDigit(block[g2 + 3]);
  if ((c1 != '0' && c1 != '1') || c2IsDigit) return UnitCode::kNone;
  return c1 == '0' ? UnitCode::kInch : UnitCode::kMetric;
}

std::string_view HostBlock(const char* text, std::int32_t length) noexcept {
  if (text == nullptr || length <= 0) return {};
  return std::string_view(text, static_cast<std::size_t>(length));
}

bool ScanBlock(std::string_view block, const BlockFacts& facts, const DefinitionTable& table,
               SelectionStore& selections, bool& unitsInch) noexcept {
  bool result = false;
  std::int32_t value = 0;
  if (AcceptedToolWord(block, facts, value)) {
    AppendRequests(value, facts.hasM9, table, selections);
    result = true;
  }
  if (facts.hasG52) result = true;
  unitsInch = UnitsAfter(block, facts.firstG2, unitsInch);
  return result;
}

}  // namespace ncdrill
