#include "reference_model.h"

#include <cstring>
#include <limits>
#include <string>
#include <utility>

namespace ncdrill_test {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
constexpr std::size_t npos = std::string_view::npos;

}  // namespace

ReferenceModel::ReferenceModel(std::vector<ncdrill::TableEntry> entries)
    : entries_(std::move(entries)) {}

std::int32_t ReferenceModel::FindSlot(std::int32_t request) const {
  std::int32_t best = -1;
  for (const ncdrill::TableEntry& entry : entries_) {
    const std::int32_t n = entry.number;
    if (n <= best || n > request) continue;
    if (n == request) return request;
    best = n;
  }
  return best;
}

ReferenceModel::Outcome ReferenceModel::Interpret(std::string_view hostBlock) {
  const std::string copy(hostBlock.substr(0, hostBlock.find('\0')));
  const std::string_view block = copy;
  Outcome outcome;

  const std::size_t t = block.find('T');
  const std::size_t paren = block.find('(');
  if (t != npos && t + 1 < block.size() && IsDigit(block[t + 1]) && (paren == npos || t < paren)) {
    std::int64_t value = 0;
    for (std::size_t i = t + 1; i < block.size() && IsDigit(block[i]); ++i) {
      value = std::min<std::int64_t>(value * 10 + (block[i] - '0'),
                                     std::numeric_limits<std::int32_t>::max());
    }
    const auto requested = static_cast<std::int32_t>(value);
    if (block.find("M9") != npos) {
      for (int bit = 0; bit < 14; ++bit) {
        if ((requested >> bit) & 1) selections_.push_back({FindSlot(301 + bit), 301 + bit});
      }
    } else {
      selections_.push_back({FindSlot(requested), requested});
    }
    outcome.result = true;
  }
  if (block.find("G52") != npos) outcome.result = true;

  const std::size_t g2 = block.find("G2");
  if (g2 != npos && g2 + 2 < block.size()) {
    const char c1 = block[g2 + 2];
    const bool c2Digit = g2 + 3 < block.size() && IsDigit(block[g2 + 3]);
    if ((c1 == '0' || c1 == '1') && !c2Digit) unitsInch_ = c1 == '0';
  }

  const ncdrill::TableEntry* trigger = nullptr;
  for (const ncdrill::TableEntry& entry : entries_) {
    if (entry.name.empty()) continue;
    const std::size_t at = block.find(entry.name);
    if (at == npos) continue;
    const std::size_t after = at + entry.name.size();
    if (after == block.size() || std::strchr(".,-+0123456789", block[after]) == nullptr) {
      trigger = &entry;
      break;
    }
  }
  if (trigger == nullptr) return outcome;

  outcome.drillBlock = true;
  outcome.terminal = static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(trigger->number));
  for (const ncdrill::TableEntry& entry : entries_) {
    bool marked = false;
    for (const Selection& s : selections_) {
      marked = marked || s.requested == entry.number || s.slot == entry.number;
    }
    outcome.values.push_back(marked ? 0.0f : (unitsInch_ ? 5.0f : 127.0f));
  }
  outcome.selections = std::move(selections_);
  selections_.clear();
  return outcome;
}

}  // namespace ncdrill_test
