// The host side of a replay: a callback table whose callbacks turn what the
// plug-in hands over into reports, and the counts of the summary.
#ifndef NCDRILL_TOOLS_REPLAY_REPLAY_HOST_H
#define NCDRILL_TOOLS_REPLAY_REPLAY_HOST_H

#include <cstddef>
#include <string_view>

#include "ncdrill/ncdrill.h"
#include "report.h"

namespace ncdrill_replay {

class ReplayHost {
 public:
  explicit ReplayHost(Reporter& reporter) noexcept;
  ReplayHost(const ReplayHost&) = delete;
  ReplayHost& operator=(const ReplayHost&) = delete;

  HostCallbacks* table() noexcept { return &table_; }

  // The block about to be interpreted, for the drill block it may deliver.
  void SetBlock(std::size_t lineNumber, std::string_view text) noexcept {
    lineNumber_ = lineNumber;
    text_ = text;
  }

  // The counts so far: requests accepted and drill blocks. The caller
  // counts blocks and results.
  RunSummary& summary() noexcept { return summary_; }

  // True when a report failed (out of memory) inside a callback. Callbacks
  // never let an exception into the plug-in.
  bool failed() const noexcept { return failed_; }

 private:
  static ReplayHost& Self(void* context) noexcept { return *static_cast<ReplayHost*>(context); }
  static void PutDefinitionPath(void* context, const char* path) noexcept;
  static void PutRecordChain(void* context, const ChainRecord* first) noexcept;
  static void PutLabelledList(void* context, const char* label, const SelectionList* list) noexcept;
  static void EndBlock(void* context) noexcept;
  void ReportDrillBlock();

  HostCallbacks table_{};
  Reporter& reporter_;
  RunSummary summary_;
  std::size_t lineNumber_ = 0;
  std::string_view text_;
  const ChainRecord* chain_ = nullptr;
  const SelectionList* selections_ = nullptr;
  bool failed_ = false;
};

}  // namespace ncdrill_replay

#endif
