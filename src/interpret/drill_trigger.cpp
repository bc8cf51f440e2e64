#include "interpret/drill_trigger.h"

#include <cstdint>

#include "interpret/host_calls.h"

namespace ncdrill {
namespace {

constexpr const char* kDrillBlockLabel = "Drill block";
constexpr float kFiveInchesInInch = 5.0f;
constexpr float kFiveInchesInMillimetres = 127.0f;

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

void DeliverDrillBlock(const TableEntry& trigger, bool unitsInch, DefinitionTable& table,
                       SelectionStore& selections, const HostCallbacks* host) {
  HandOver handOver(selections);
  table.terminalRecord().number = NegateWrapping(trigger.number);
  const float away = unitsInch ? kFiveInchesInInch : kFiveInchesInMillimetres;
  table.SetRecordValues([&selections](auto&& mark) { selections.ForEachMarkRank(mark); }, 0.0f,
                        away);
  CallPutRecordChain(host, table.firstRecord());
  CallPutLabelledList(host, kDrillBlockLabel, &selections.list());
  CallEndBlock(host);
}

}  // namespace ncdrill
