#include "interpret/block_scanner.h"

#include <limits>

#include "interpret/portable_scan.h"

namespace ncdrill {
namespace {

bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// The digits at the start of `digits`, as a 32-bit atol that clamps.
std::int32_t LeadingNumberByDigit(std::string_view digits) noexcept {
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  std::int64_t value = 0;
  for (const char c : digits) {
    if (!IsDigit(c)) break;
    value = value * 10 + (c - '0');
    if (value > kMax) return static_cast<std::int32_t>(kMax);
  }
  return static_cast<std::int32_t>(value);
}

// The same, without a loop whose end depends on the digits, for `digits`
// that start with one: up to 7 digits come out of one 64-bit word.
std::int32_t LeadingNumber(std::string_view digits) noexcept {
  const auto* bytes = reinterpret_cast<const unsigned char*>(digits.data());
  const std::uint64_t word =
      digits.size() >= 8 ? LoadWord(bytes) : LoadPartialWord(bytes, digits.size());
  // Byte k of `values` is digit k; a byte that is no digit comes out from 10
  // up (or borrows, which only disturbs the bytes after it).
  const std::uint64_t values = word - 0x3030303030303030ULL;
  const std::uint64_t notDigits =
      ((values + 0x7676767676767676ULL) | values) & 0x8080808080808080ULL;
  if (notDigits == 0) return LeadingNumberByDigit(digits);  // 8 digits or more: may clamp
  const unsigned count = CountTrailingZeros(notDigits) / 8;
  // The digits in the top bytes, zeros before them, then pairs, fours and
  // eights of digits combined by multiplication.
  std::uint64_t x = values << (8 * (8 - count));
  x = ((x & 0x0F0F0F0F0F0F0F0FULL) * 2561) >> 8;
  x = ((x & 0x00FF00FF00FF00FFULL) * 6553601) >> 16;
  x = ((x & 0x0000FFFF0000FFFFULL) * 42949672960001ULL) >> 32;
  return static_cast<std::int32_t>(x);
}

void AppendRequests(std::int32_t value, bool isMask, const DefinitionTable& table,
                    SelectionStore& selections) noexcept {
  if (!isMask) {
    const NumberIndex::Resolved resolved = table.Resolve(value);
    selections.Append(Selection{resolved.slot, value}, resolved.markRank);
    return;
  }
  const auto bits = static_cast<std::uint32_t>(value) & ((1u << DefinitionTable::kMaskBits) - 1);
  selections.AppendEachBit(bits, DefinitionTable::kMaskBits, table.maskSelections(),
                           table.maskRanks());
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
