// What ncdrill-replay reports. Every report is an event: one of the structs
// below, filled once and then written as text for people or as one JSON
// object per line for scripts, from the same fields.
#ifndef NCDRILL_TOOLS_REPLAY_REPORT_H
#define NCDRILL_TOOLS_REPLAY_REPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ncdrill/host.hpp"

namespace ncdrill_replay {

// --- replaying a program ---

struct DefinitionEvent {
  std::string path;
};

struct ChainEntry {
  std::int32_t number;
  float value;
};

struct DrillEvent {
  std::size_t line = 0;  // of the block in the program, 1-based
  std::string text;      // the block, without its line end
  std::int32_t trigger = 0;
  std::vector<ChainEntry> chain;  // every record in file order, the terminal record last
  std::vector<Selection> selections;
};

struct RunSummary {
  std::uint64_t blocks = 0;
  std::uint64_t returnedTrue = 0;
  std::uint64_t requestsAccepted = 0;  // Selections handed over in drill blocks
  std::uint64_t drillBlocks = 0;
  double seconds = 0.0;
};

// --- explaining and linting programs ---

enum class Severity { kWarning, kNote };

// A surprise found in a program or a table, as compilers report them.
struct Finding {
  std::string file;
  std::size_t line = 0;    // 1-based; 0: the file as a whole
  std::size_t column = 0;  // 1-based byte column; 0: none
  Severity severity = Severity::kWarning;
  std::string kind;  // a short name scripts can count, such as "near-miss"
  std::string message;
  std::string text;  // the line the finding is about
};

// One thing the plug-in decided about a block, and why.
struct Decision {
  std::string what;        // "tool-word", "request", "units", "trigger", ...
  std::size_t column = 0;  // 1-based byte column of what it is about; 0: none
  std::string message;
};

struct Explanation {
  std::string file;
  std::size_t line = 0;
  std::string text;
  bool result = false;  // what InterpretBlock returned
  std::vector<Decision> decisions;
};

struct ExamineSummary {
  std::uint64_t programs = 0;
  std::uint64_t blocks = 0;
  std::uint64_t explained = 0;  // blocks in which something happened
  std::uint64_t warnings = 0;
  std::uint64_t notes = 0;
  std::map<std::string, std::uint64_t> kinds;  // findings by kind
  bool lint = false;                           // the summary counts findings
};

enum class Format { kText, kJson };

// Writes events to a stream, one line (or, for text, a few) per event.
class EventWriter {
 public:
  // `colour`: ANSI colours in the text of findings.
  EventWriter(Format format, bool colour, std::FILE* out);
  ~EventWriter();
  EventWriter(const EventWriter&) = delete;
  EventWriter& operator=(const EventWriter&) = delete;

  void Write(const DefinitionEvent& event);
  void Write(const DrillEvent& event);
  void Write(const RunSummary& event);
  void Write(const Finding& event);
  void Write(const Explanation& event);
  void Write(const ExamineSummary& event);

 private:
  template <typename Event>
  void Emit(const Event& event);

  struct DrillJson;  // the last drill event as JSON, reused for the next one

  Format format_;
  bool colour_;
  std::FILE* out_;
  std::string buffer_;
  std::unique_ptr<DrillJson> drillJson_;
};

// A drill block as the host received it, valid during the report only.
struct DrillBlockView {
  std::size_t lineNumber;  // of the block in the program, 1-based
  std::string_view text;   // the block, without its line end
  const ncdrill::DrillBlock& drill;
};

// Copies what a view shows into `event`, reusing its vectors.
void CopyDrillBlock(const DrillBlockView& view, DrillEvent& event);

// Where the replay host sends what the plug-in hands over.
class Reporter {
 public:
  virtual ~Reporter() = default;
  virtual void DefinitionPath(std::string_view path) = 0;
  virtual void DrillBlock(const DrillBlockView& drill) = 0;
  virtual void Summary(const RunSummary& summary) = 0;
};

// A reporter writing every event to `writer`; with `quiet`, the summary only.
std::unique_ptr<Reporter> MakeReporter(EventWriter& writer, bool quiet);

// `text` as valid UTF-8: valid sequences pass through, any other byte
// becomes its Latin-1 character, so that any 8-bit block gives valid JSON.
std::string AsUtf8(std::string_view text);

// The length of the valid UTF-8 sequence at the start of `text`, or 0.
std::size_t Utf8SequenceLength(std::string_view text) noexcept;

}  // namespace ncdrill_replay

#endif
