#include "straightforward.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "model.h"

namespace ncdrill_bench {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::int32_t ReadNumber(const char* digits) {
  const long long value = std::strtoll(digits, nullptr, 10);
  return value > std::numeric_limits<std::int32_t>::max() ? std::numeric_limits<std::int32_t>::max()
                                                          : static_cast<std::int32_t>(value);
}

}  // namespace

StraightforwardSearch::StraightforwardSearch(const std::string& table, const HostCallbacks* host)
    : host_(host) {
  for (const ncdrill_model::Entry& e : ncdrill_model::ReadTable(table)) {
    entries_.push_back(Entry{e.name, e.number});
    records_.push_back(ChainRecord{e.number, 0.0f, nullptr});
  }
  for (std::size_t i = 0; i + 1 < records_.size(); ++i) records_[i].next = &records_[i + 1];
  if (!records_.empty()) records_.back().next = &terminal_;
  list_.sentinel = &sentinel_;
}

std::int32_t StraightforwardSearch::FindSlot(std::int32_t request) const {
  std::int32_t best = -1;
  for (const ChainRecord& r : records_) {
    if (r.number <= best || r.number > request) continue;
    if (r.number == request) return request;
    best = r.number;
  }
  return best;
}

void StraightforwardSearch::Request(std::int32_t requested) {
  selections_.push_back(Selection{FindSlot(requested), requested});
}

bool StraightforwardSearch::InterpretBlock(const char* text, std::int32_t length) {
  const std::string copy = length > 0 ? std::string(text, static_cast<std::size_t>(length)) : "";
  const char* block = copy.c_str();
  bool result = false;
  const char* t = std::strchr(block, 'T');
  const char* paren = std::strchr(block, '(');
  if (t != nullptr && IsDigit(t[1]) && (paren == nullptr || t < paren)) {
    const std::int32_t value = ReadNumber(t + 1);
    if (std::strstr(block, "M9") != nullptr) {
      for (int bit = 0; bit < 14; ++bit) {
        if ((value & (1 << bit)) != 0) Request(301 + bit);
      }
    } else {
      Request(value);
    }
    result = true;
  }
  if (std::strstr(block, "G52") != nullptr) result = true;
  const char* g2 = std::strstr(block, "G2");
  if (g2 != nullptr && (g2[2] == '0' || g2[2] == '1') && !IsDigit(g2[3])) inch_ = g2[2] == '0';
  for (const Entry& e : entries_) {
    if (e.name.empty()) continue;
    const char* at = std::strstr(block, e.name.c_str());
    if (at == nullptr) continue;
    const char after = at[e.name.size()];
    if (after != '\0' && std::strchr(".,-+0123456789", after) != nullptr) continue;
    DeliverDrillBlock(e.number);
    break;
  }
  return result;
}

void StraightforwardSearch::DeliverDrillBlock(std::int32_t number) {
  terminal_.number = static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(number));
  for (ChainRecord& r : records_) {
    bool marked = false;
    for (const Selection& s : selections_) {
      if (s.requested == r.number || s.slot == r.number) marked = true;
    }
    r.value = marked ? 0.0f : inch_ ? 5.0f : 127.0f;
  }
  nodes_.resize(selections_.size());
  SelectionNode* previous = &sentinel_;
  for (std::size_t i = 0; i < selections_.size(); ++i) {
    nodes_[i].selection = selections_[i];
    nodes_[i].prev = previous;
    previous->next = &nodes_[i];
    previous = &nodes_[i];
  }
  previous->next = &sentinel_;
  sentinel_.prev = previous;
  list_.count = static_cast<std::uint32_t>(selections_.size());
  host_->putRecordChain(host_->context, records_.empty() ? &terminal_ : records_.data());
  host_->putLabelledList(host_->context, "Drill block", &list_);
  host_->endBlock(host_->context);
  selections_.clear();
}

}  // namespace ncdrill_bench
