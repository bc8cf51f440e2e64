#include "interpret/drill_trigger.h"

#include <cstdint>

#include "plugin/host_calls.h"

namespace ncdrill {
namespace {

constexpr const char* kDrillBlockLabel = "Drill block";
constexpr float kFiveInchesInInch = 5.0f;
constexpr float kFiveInchesInMillimetres = 127.0f;

// Characters that make a name the start of a longer number or word, such as
// "G81" inside "G81.5" or "G8" inside "G81".
bool ContinuesNumber(char c) noexcept {
  return c == '.' || c == ',' || c == '-' || c == '+' || (c >= '0' && c <= '9');
}

std::int32_t NegateWrapping(std::int32_t n) noexcept {
  return static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(n));
}

// Ends the hand-over even when a host callback throws.
class HandOver {
 public:
  explicit HandOver(SelectionStore& selections) noexcept : selections_(selections) {
    selections_.BeginHandOver();
  }
  ~HandOver() { selections_.EndHandOver(); }
  HandOver(const HandOver&) = delete;
  HandOver& operator=(const HandOver&) = delete;

 private:
  SelectionStore& selections_;
};

}  // namespace

const TableEntry* FindTrigger(std::string_view block,
                              const std::vector<TableEntry>& entries) noexcept {
  for (const TableEntry& entry : entries) {
    if (entry.name.empty()) continue;
    const std::size_t at = block.find(entry.name);
    if (at == std::string_view::npos) continue;
    const std::size_t after = at + entry.name.size();
    if (after == block.size() || !ContinuesNumber(block[after])) return &entry;
  }
  return nullptr;
}

void DeliverDrillBlock(const TableEntry& trigger, bool unitsInch, DefinitionTable& table,
                       SelectionStore& selections, const HostCallbacks* host) {
  HandOver handOver(selections);
  table.terminalRecord().number = NegateWrapping(trigger.number);
  const float away = unitsInch ? kFiveInchesInInch : kFiveInchesInMillimetres;
  for (ChainRecord& record : table.records()) {
    record.value = selections.Marks(record.number) ? 0.0f : away;
  }
  CallPutRecordChain(host, table.firstRecord());
  CallPutLabelledList(host, kDrillBlockLabel, &selections.list());
  CallEndBlock(host);
}

}  // namespace ncdrill
