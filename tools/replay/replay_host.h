// The host side of a replay: a handler that turns each drill block the
// plug-in hands over into a report, and counts for the summary.
#ifndef NCDRILL_TOOLS_REPLAY_REPLAY_HOST_H
#define NCDRILL_TOOLS_REPLAY_REPLAY_HOST_H

#include <cstddef>
#include <string_view>

#include "ncdrill/host.hpp"
#include "report.h"

namespace ncdrill_replay {

class ReplayHandler final : public ncdrill::Handler {
 public:
  explicit ReplayHandler(Reporter& reporter) noexcept : reporter_(reporter) {}

  // The block about to be interpreted, for the drill block it may deliver.
  void SetBlock(std::size_t lineNumber, std::string_view text) noexcept {
    lineNumber_ = lineNumber;
    text_ = text;
  }

  // The counts so far: requests accepted and drill blocks. The caller
  // counts blocks and results.
  RunSummary& summary() noexcept { return summary_; }

  void OnDefinitionPath(std::string_view path) override { reporter_.DefinitionPath(path); }
  void OnDrillBlock(const ncdrill::DrillBlock& block) override;

 private:
  Reporter& reporter_;
  RunSummary summary_;
  std::size_t lineNumber_ = 0;
  std::string_view text_;
};

}  // namespace ncdrill_replay

#endif
