// What ncdrill-replay prints: the definition path, each drill block and a
// summary, for people (text) or for scripts (one JSON object per line).
#ifndef NCDRILL_TOOLS_REPLAY_REPORT_H
#define NCDRILL_TOOLS_REPLAY_REPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "ncdrill/ncdrill.h"

namespace ncdrill_replay {

// A drill block as the host received it, valid during the report only.
struct DrillBlockView {
  std::size_t lineNumber;           // of the block in the program, 1-based
  std::string_view text;            // the block, without its line end
  std::int32_t trigger;             // number of the table entry that triggered
  const ChainRecord* chain;         // first record; the terminal record ends it
  const SelectionList* selections;  // the Selections handed over
};

struct RunSummary {
  std::uint64_t blocks = 0;
  std::uint64_t returnedTrue = 0;
  std::uint64_t requestsAccepted = 0;  // Selections handed over in drill blocks
  std::uint64_t drillBlocks = 0;
  double seconds = 0.0;
};

class Reporter {
 public:
  virtual ~Reporter() = default;
  virtual void DefinitionPath(std::string_view path) = 0;
  virtual void DrillBlock(const DrillBlockView& drill) = 0;
  virtual void Summary(const RunSummary& summary) = 0;
};

enum class Format { kText, kJson };

// A reporter writing to `out`. With `quiet`, only the summary is written.
std::unique_ptr<Reporter> MakeReporter(Format format, bool quiet, std::FILE* out);

// Appends `text` as a JSON string, quotes included. Valid UTF-8 passes
// through; control characters are escaped; a byte that is not part of valid
// UTF-8 is written as its Latin-1 character (\u00XX), so any 8-bit block
// gives valid JSON.
void AppendJsonString(std::string& out, std::string_view text);

// Calls `onSelection(const Selection&)` for each Selection of `list`, in
// order, trusting no more nodes than its count.
template <typename OnSelection>
void ForEachSelection(const SelectionList* list, OnSelection&& onSelection) {
  if (list == nullptr || list->sentinel == nullptr) return;
  const SelectionNode* node = list->sentinel->next;
  for (std::uint32_t i = 0; i < list->count && node != nullptr && node != list->sentinel; ++i) {
    onSelection(node->selection);
    node = node->next;
  }
}

}  // namespace ncdrill_replay

#endif
