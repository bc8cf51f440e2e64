#include "interpret/block_scanner.h"

#include <cstring>
#include <limits>

namespace ncdrill {
namespace {

constexpr std::int32_t kFirstMaskRequest = 301;
constexpr int kMaskBits = 14;  // requests 301 to 314

bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

bool Contains(std::string_view block, std::string_view code) noexcept {
  return block.find(code) != std::string_view::npos;
}

// The digits at the start of `digits`, as a 32-bit atol that clamps.
std::int32_t LeadingNumber(std::string_view digits) noexcept {
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  std::int64_t value = 0;
  for (char c : digits) {
    if (!IsDigit(c)) break;
    value = value * 10 + (c - '0');
    if (value > kMax) return static_cast<std::int32_t>(kMax);
  }
  return static_cast<std::int32_t>(value);
}

void AppendRequest(std::int32_t requested, const DefinitionTable& table,
                   SelectionStore& selections) noexcept {
  selections.Append(Selection{table.FindSlot(requested), requested});
}

}  // namespace

std::string_view ExaminedBlock(const char* text, std::int32_t length) noexcept {
  if (text == nullptr || length <= 0) return {};
  const auto size = static_cast<std::size_t>(length);
  const void* nul = std::memchr(text, '\0', size);
  return std::string_view(
      text, nul == nullptr ? size : static_cast<std::size_t>(static_cast<const char*>(nul) - text));
}

std::optional<std::int32_t> FindToolRequest(std::string_view block) noexcept {
  const std::size_t t = block.find('T');
  if (t == std::string_view::npos || t + 1 >= block.size() || !IsDigit(block[t + 1])) {
    return std::nullopt;
  }
  const std::size_t paren = block.find('(');
  if (paren != std::string_view::npos && paren < t) return std::nullopt;
  return LeadingNumber(block.substr(t + 1));
}

bool FollowUnits(std::string_view block, bool unitsInch) noexcept {
  const std::size_t g2 = block.find("G2");
  if (g2 == std::string_view::npos || g2 + 2 >= block.size()) return unitsInch;
  const char c1 = block[g2 + 2];
  const bool c2IsDigit = g2 + 3 < block.size() && IsDigit(block[g2 + 3]);
  if ((c1 != '0' && c1 != '1') || c2IsDigit) return unitsInch;
  return c1 == '0';
}

bool ScanBlock(std::string_view block, const DefinitionTable& table, SelectionStore& selections,
               bool& unitsInch) noexcept {
  bool result = false;
  if (const std::optional<std::int32_t> value = FindToolRequest(block)) {
    if (Contains(block, "M9")) {
      for (int bit = 0; bit < kMaskBits; ++bit) {
        if ((*value >> bit) & 1) AppendRequest(kFirstMaskRequest + bit, table, selections);
      }
    } else {
      AppendRequest(*value, table, selections);
    }
    result = true;
  }
  if (Contains(block, "G52")) result = true;
  unitsInch = FollowUnits(block, unitsInch);
  return result;
}

}  // namespace ncdrill
