#include "replay_host.h"

#include <cstdint>
#include <exception>

namespace ncdrill_replay {
namespace {

// The trigger's number from the terminal record, which holds its negation
// (wrapping, so INT32_MIN stands for itself).
std::int32_t TriggerNumber(const ChainRecord* chain) noexcept {
  const ChainRecord* last = chain;
  while (last != nullptr && last->next != nullptr) last = last->next;
  if (last == nullptr) return 0;
  return static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(last->number));
}

}  // namespace

ReplayHost::ReplayHost(Reporter& reporter) noexcept : reporter_(reporter) {
  table_.context = this;
  table_.putDefinitionPath = &PutDefinitionPath;
  table_.putRecordChain = &PutRecordChain;
  table_.putLabelledList = &PutLabelledList;
  table_.endBlock = &EndBlock;
}

void ReplayHost::PutDefinitionPath(void* context, const char* path) noexcept {
  ReplayHost& self = Self(context);
  try {
    self.reporter_.DefinitionPath(path != nullptr ? path : "");
  } catch (const std::exception&) {
    self.failed_ = true;
  }
}

void ReplayHost::PutRecordChain(void* context, const ChainRecord* first) noexcept {
  Self(context).chain_ = first;
}

void ReplayHost::PutLabelledList(void* context, const char*, const SelectionList* list) noexcept {
  Self(context).selections_ = list;
}

// The Selections' nodes are valid until endBlock returns, so the drill block
// is reported here, whole.
void ReplayHost::EndBlock(void* context) noexcept {
  ReplayHost& self = Self(context);
  try {
    self.ReportDrillBlock();
  } catch (const std::exception&) {
    self.failed_ = true;
  }
  self.chain_ = nullptr;
  self.selections_ = nullptr;
}

void ReplayHost::ReportDrillBlock() {
  ++summary_.drillBlocks;
  if (selections_ != nullptr) summary_.requestsAccepted += selections_->count;
  reporter_.DrillBlock(
      DrillBlockView{lineNumber_, text_, TriggerNumber(chain_), chain_, selections_});
}

}  // namespace ncdrill_replay
