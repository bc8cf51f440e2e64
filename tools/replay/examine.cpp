// --explain and --lint: each program runs through the loaded plug-in, for
// what it really does, and through the block explainer, for why; the two
// must agree block by block.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "block_review.h"
#include "explain_table.h"
#include "interpret/block_explainer.h"
#include "plugin.h"
#include "program_source.h"
#include "replay.h"
#include "replay_host.h"
#include "report.h"

namespace ncdrill_replay {
namespace {

// The table as the plug-in reads it, and what --lint finds in it.
struct TableReading {
  std::string path;
  std::vector<ncdrill::TableEntry> entries;
  std::vector<std::size_t> entryLines;
  std::vector<Finding> findings;
};

// Whether anything but line ends follows the file's first Ctrl-Z.
bool TextAfterCtrlZ(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  bool ended = false;
  for (char c = 0; in.get(c);) {
    if (ended && c != '\r' && c != '\n' && c != ncdrill::kEndOfText) return true;
    ended = ended || c == ncdrill::kEndOfText;
  }
  return false;
}

Finding CtrlZFinding(const std::string& path, const ncdrill::TableEnd& end,
                     const std::string& lineText) {
  const bool textAfter = TextAfterCtrlZ(path);
  return Finding{path,
                 end.line,
                 end.column,
                 textAfter ? Severity::kWarning : Severity::kNote,
                 "table-ctrl-z",
                 textAfter ? "a Ctrl-Z ends the table here: the text after it is not read"
                           : "a Ctrl-Z ends the table here; nothing follows it",
                 lineText};
}

TableReading ReadTable(const std::string& path) {
  TableReading table;
  table.path = path;
  std::size_t lastLine = 0;
  std::string lastText;
  const TableReview review = ReviewTable(path, [&](const ReviewedLine& line) {
    if (line.kind == ncdrill::LineKind::kTaken) {
      table.entries.push_back(ncdrill::TableEntry{std::string(line.name), line.number});
      table.entryLines.push_back(line.line.lineNumber);
    }
    for (const TableNote& note : line.notes) {
      if (!note.lint) continue;
      table.findings.push_back(Finding{table.path, line.line.lineNumber, note.column,
                                       Severity::kWarning, std::string("table-") + note.kind,
                                       note.message, std::string(line.line.text)});
    }
    lastLine = line.line.lineNumber;
    lastText = line.line.text;
  });
  if (!review.opened) {
    table.findings.push_back(Finding{path, 0, 0, Severity::kWarning, "table-missing",
                                     "the table cannot be read: the plug-in runs with an empty "
                                     "table, which never makes a drill block",
                                     ""});
  } else if (review.end.kind == ncdrill::TableEnd::kEndOfText) {
    table.findings.push_back(
        CtrlZFinding(path, review.end, review.end.line == lastLine ? lastText : std::string()));
  }
  return table;
}

// What the plug-in handed the host during one block.
class Observer final : public Reporter {
 public:
  void Reset() { drillBlocks_ = 0; }
  void DefinitionPath(std::string_view) override {}
  void DrillBlock(const DrillBlockView& drill) override {
    ++drillBlocks_;
    CopyDrillBlock(drill, drill_);
  }
  void Summary(const RunSummary&) override {}

  int drillBlocks() const { return drillBlocks_; }
  const DrillEvent& drill() const { return drill_; }

 private:
  int drillBlocks_ = 0;
  DrillEvent drill_;
};

std::string SelectionsText(const std::vector<Selection>& selections) {
  if (selections.empty()) return "none";
  std::string text;
  for (const Selection& s : selections) {
    text += (text.empty() ? "(" : ", (") + std::to_string(s.slot) + ", " +
            std::to_string(s.requested) + ")";
  }
  return text;
}

std::string FirstChainDifference(const std::vector<ChainEntry>& got,
                                 const ncdrill::DefinitionTable& table) {
  std::size_t i = 0;
  for (const ChainRecord* r = table.firstRecord(); r != nullptr; r = r->next, ++i) {
    if (i == got.size()) return "its chain ends after " + std::to_string(i) + " records";
    const bool terminal = r->next == nullptr;
    if (got[i].number != r->number || got[i].value != r->value) {
      return std::string(terminal ? "the terminal record" : "record " + std::to_string(i + 1)) +
             " holds " + std::to_string(got[i].number) + "=" + std::to_string(got[i].value) +
             ", the explanation says " + std::to_string(r->number) + "=" + std::to_string(r->value);
    }
  }
  if (i != got.size()) return "its chain has " + std::to_string(got.size()) + " records";
  return {};
}

// Empty when the plug-in did what the explanation says, else what differs.
std::string Disagreement(const ncdrill::BlockExplanation& block,
                         const ncdrill::DefinitionTable& table, bool result,
                         const Observer& observer) {
  auto said = [](bool b) { return b ? "true" : "false"; };
  if (result != block.result) {
    return std::string("it returned ") + said(result) + ", the explanation says " +
           said(block.result);
  }
  const int expected = block.trigger == ncdrill::kNoPosition ? 0 : 1;
  if (observer.drillBlocks() != expected) {
    return "it delivered " + std::to_string(observer.drillBlocks()) +
           " drill blocks, the explanation says " + std::to_string(expected);
  }
  if (expected == 0) return {};
  const std::vector<Selection>& got = observer.drill().selections;
  const bool sameSelections = got.size() == block.handedOver.size() &&
                              std::equal(got.begin(), got.end(), block.handedOver.begin(),
                                         [](const Selection& a, const Selection& b) {
                                           return a.slot == b.slot && a.requested == b.requested;
                                         });
  if (!sameSelections) {
    return "it handed over the Selections " + SelectionsText(got) + ", the explanation says " +
           SelectionsText(block.handedOver);
  }
  return FirstChainDifference(observer.drill().chain, table);
}

// The block that made the latest request, for the requests that no drill
// block takes.
struct LastRequest {
  std::size_t line = 0;
  std::size_t column = 0;
  std::string text;
};

class Examiner {
 public:
  Examiner(const Options& options, const TableReading& table, const ncdrill::Plugin& plugin,
           EventWriter& writer)
      : options_(options), table_(table), plugin_(plugin), writer_(writer) {
    summary_.lint = options.lint;
  }

  void Report(const Finding& finding) {
    if (finding.severity == Severity::kWarning) {
      ++summary_.warnings;
    } else {
      ++summary_.notes;
    }
    ++summary_.kinds[finding.kind];
    if (!options_.quiet) writer_.Write(finding);
  }

  // Runs one program. Returns kExitOk, or kExitFailed with `error` set.
  int Run(const Program& program, std::string& error) {
    BlockSource source;
    if (!source.Open(program, error)) return kExitFailed;
    Observer observer;
    ReplayHandler handler(observer);
    std::optional<ncdrill::Session> session = OpenSession(
        plugin_, handler, OrNull(options_.definitionName), OrNull(options_.tableName), error);
    if (!session) return kExitFailed;
    ncdrill::BlockExplainer explainer(table_.entries);
    const BlockReview review(explainer.table(), table_.entryLines);
    ++summary_.programs;
    LastRequest last;
    std::size_t line = 0;
    std::string_view text;
    while (source.Next(line, text, error)) {
      observer.Reset();
      handler.SetBlock(line, text);
      const bool result = session->Interpret(text);
      explainer.Explain(text.data(), text.size(), block_);
      const std::string differs = Disagreement(block_, explainer.table(), result, observer);
      if (!differs.empty()) {
        error = program.name + ":" + std::to_string(line) +
                ": the plug-in does not do what the explanation says: " + differs;
        return kExitFailed;
      }
      ++summary_.blocks;
      if (!block_.requests.empty()) {
        last = LastRequest{line, block_.toolWord.at + 1, std::string(text)};
      }
      Describe(program, line, text, review);
    }
    if (!error.empty()) return kExitFailed;
    if (options_.lint) ReportLeftRequests(program, explainer.pendingRequests(), last);
    return kExitOk;
  }

  const ExamineSummary& summary() const { return summary_; }

 private:
  void Describe(const Program& program, std::size_t line, std::string_view text,
                const BlockReview& review) {
    if (!BlockReview::Eventful(block_)) return;
    ++summary_.explained;
    if (options_.explain && !options_.quiet) {
      review.Explain(block_, explanation_.decisions);
      explanation_.file = program.name;
      explanation_.line = line;
      explanation_.text.assign(text.data(), text.size());
      explanation_.result = block_.result;
      writer_.Write(explanation_);
    }
    if (!options_.lint) return;
    review.Find(block_, findings_);
    for (BlockFinding& found : findings_) {
      Report(Finding{program.name, line, found.column, found.severity, found.kind,
                     std::move(found.message), std::string(text)});
    }
  }

  void ReportLeftRequests(const Program& program, std::uint32_t pending, const LastRequest& last) {
    if (pending == 0) return;
    const std::string requests = pending == 1 ? "1 request" : std::to_string(pending) + " requests";
    Report(Finding{program.name, last.line, last.column, Severity::kWarning,
                   "requests-after-last-drill",
                   requests + " made after the last drill block never reach" +
                       (pending == 1 ? "es" : "") + " the host: no drill block follows",
                   last.text});
  }

  const Options& options_;
  const TableReading& table_;
  const ncdrill::Plugin& plugin_;
  EventWriter& writer_;
  ExamineSummary summary_;
  ncdrill::BlockExplanation block_;
  Explanation explanation_;
  std::vector<BlockFinding> findings_;
};

bool ColourOnStdout(const Options& options) {
  if (options.json) return false;
  return WantsColour(options.colour, StandardOutputIsTerminal(),
                     std::getenv("NO_COLOR") != nullptr);
}

}  // namespace

int Examine(const Options& options, std::string& error) {
  const std::vector<Program> programs = ProgramsOf(options);
  const std::optional<ncdrill::Plugin> plugin = LoadPlugin(PluginPath(options), error);
  if (!plugin) return kExitFailed;
  const TableReading table = ReadTable(PluginTablePath(options));

  std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
  EventWriter writer(options.json ? Format::kJson : Format::kText, ColourOnStdout(options), stdout);
  Examiner examiner(options, table, *plugin, writer);
  if (options.lint) {
    for (const Finding& finding : table.findings) examiner.Report(finding);
  }
  for (const Program& program : programs) {
    const int status = examiner.Run(program, error);
    if (status != kExitOk) return status;
  }
  writer.Write(examiner.summary());
  return options.lint && examiner.summary().warnings > 0 ? kExitFindings : kExitOk;
}

}  // namespace ncdrill_replay
