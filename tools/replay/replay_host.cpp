#include "replay_host.h"

namespace ncdrill_replay {

void ReplayHandler::OnDrillBlock(const ncdrill::DrillBlock& block) {
  ++summary_.drillBlocks;
  summary_.requestsAccepted += block.selections().size();
  reporter_.DrillBlock(DrillBlockView{lineNumber_, text_, block});
}

}  // namespace ncdrill_replay
