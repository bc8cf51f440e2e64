// ncdrill-replay --lint and --explain, run as a process: each surprise on a
// minimal program at its line and column, the caret, colour, several
// programs at once, JSON read back, and the check that the loaded plug-in
// does what the explanation says.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "options.h"
#include "plugin_host.h"
#include "tool_runner.h"

namespace ncdrill_test {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using Headers = std::set<std::string>;

// A copy of the plug-in beside a table of the test's own.
class PluginFolder {
 public:
  explicit PluginFolder(std::string_view table, const std::string& plugin = BuiltPluginFile()) {
    folder_.Write("t.txt", table);
    fs::copy_file(plugin, folder_.path() + "ncdrill.so");
  }
  ToolRun Run(std::vector<std::string> args) const {
    args.insert(args.begin(), {"--plugin", folder_.path() + "ncdrill.so", "--table", "t.txt"});
    return RunReplay(args);
  }
  const TempFolder& folder() const { return folder_; }

 private:
  TempFolder folder_;
};

// "FILE:LINE:COLUMN severity kind" of every finding in a text report.
Headers FindingHeaders(const std::string& out) {
  static const std::regex kHeader(R"(^(\S+:) (warning|note): .* \[([a-z0-9-]+)\]$)");
  Headers headers;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    if (std::regex_match(line, match, kHeader)) {
      headers.insert(match[1].str() + " " + match[2].str() + " " + match[3].str());
    }
  }
  return headers;
}

std::vector<Json> JsonLines(const std::string& out) {
  std::vector<Json> events;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) events.push_back(Json::parse(line));
  return events;
}

constexpr const char* kTable =
    "# findings\n12\n20\n301\n302\n81 G81\n82 G82\n9 DRILL\n";  // G81: line 6

std::vector<std::string> LintBlocks(const std::vector<std::string>& blocks) {
  std::vector<std::string> args{"--lint", "--color=never"};
  for (const std::string& block : blocks) {
    args.push_back("--block");
    args.push_back(block);
  }
  return args;
}

TEST(Lint, EachSurpriseAtItsLineAndColumn) {
  const PluginFolder plugin(kTable);
  const struct {
    std::vector<std::string> blocks;
    Headers expected;
  } cases[] = {
      {{"(G81 PATTERN)"}, {"<block>:1:2: warning trigger-in-comment"}},
      {{"G81.5 X1"}, {"<block>:1:1: warning near-miss"}},
      {{"X1 DRILL5 DRILL"}, {"<block>:1:4: warning near-miss"}},
      {{"(A) T12"}, {"<block>:1:5: warning ignored-tool-word"}},
      {{"TA T5"}, {"<block>:1:4: warning ignored-tool-word"}},
      {{"t5 M6"}, {"<block>:1:1: warning lowercase-t"}},
      {{"M90 T3", "G82"}, {"<block>:1:1: warning m9-inside-code"}},
      {{"T3 (M9 HEAD)", "G82"}, {"<block>:1:5: warning m9-inside-code"}},
      {{"T16384 M9"}, {"<block>:1:1: warning mask-bits-above-13"}},
      {{"T99999999999", "G82"},
       {"<block>:1:1: warning saturated-value", "<block>:1:1: note lower-slot"}},
      {{"X0", "T7", "G82"}, {"<block>:2:1: warning no-slot"}},
      {{"N5 T15", "G82"}, {"<block>:1:4: note lower-slot"}},
      {{"G2 X1 G20"}, {"<block>:1:7: warning hidden-units"}},
      {{"G20 G21"}, {"<block>:1:5: warning hidden-units"}},
      {{"T12", "G82", "X1 T20", "T12 M6", "Y1"},
       {"<block>:4:1: warning requests-after-last-drill"}},
      // What is meant, and works: no finding.
      {{"T12 M6", "G81 X0 (G8 IS NOT G81)", "G20 G2 X1", "T3 M9", "G82 X1.", "T20 G81"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.blocks));
    const ToolRun run = plugin.Run(LintBlocks(c.blocks));
    EXPECT_EQ(FindingHeaders(run.out), c.expected) << run.out << run.err;
    const bool warned = run.out.find(": warning: ") != std::string::npos;
    EXPECT_EQ(run.status, warned ? 3 : 0) << "warnings give 3, notes alone 0";
  }
}

TEST(Lint, SaysWhatStoppedANameAndWhereItWouldHaveTriggered) {
  const PluginFolder plugin(kTable);
  const ToolRun run = plugin.Run(LintBlocks({"X1 DRILL5 DRILL", "T15", "G81"}));
  EXPECT_NE(run.out.find("\"DRILL\" (table line 8) does not trigger: '5' follows it; the one at "
                         "column 11 would trigger, but only the first occurrence counts"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("\"T15\" asks for 15, which resolves to 12: no 13, 14 or 15 in the "
                         "table: the next lower number is 12"),
            std::string::npos)
      << run.out;
}

TEST(Lint, TableFindingsNameTheTableFileAndLine) {
  const PluginFolder plugin("12\n81 G81\n82 G81\n9 DRILL \n # x\n7 " + std::string(298, 'A') +
                            "\nnever read\n");
  const ToolRun run = plugin.Run(LintBlocks({"X1"}));
  const std::string table = plugin.folder().path() + "t.txt";
  EXPECT_EQ(FindingHeaders(run.out), (Headers{table + ":3:4: warning table-duplicate-name",
                                              table + ":4:8: warning table-trailing-blank",
                                              table + ":5:2: warning table-hash-not-in-column-1",
                                              table + ":6:255: warning table-long-line"}))
      << run.out;
  EXPECT_EQ(run.status, 3);

  // A Ctrl-Z ends the table: a warning when text follows it, else a note.
  for (const auto& [bytes, header] :
       {std::pair<std::string, std::string>{"1 A\n2 B\x1A\n3 C\n", ":2:4: warning table-ctrl-z"},
        {"1 A\r\n\x1A", ":2:1: note table-ctrl-z"}}) {
    plugin.folder().Write("t.txt", bytes);
    EXPECT_EQ(FindingHeaders(plugin.Run(LintBlocks({"X1"})).out), Headers{table + header});
  }

  const ToolRun missing = RunReplay({"--lint", "--table", "none.txt", "--block", "G81"});
  EXPECT_NE(missing.out.find(ReplayFolder() + "none.txt: warning: the table cannot be read"),
            std::string::npos)
      << missing.out;
}

TEST(Lint, TheCaretSitsUnderTheColumnPastTabsAndMultibyteText) {
  const PluginFolder plugin(kTable);
  const ToolRun run = plugin.Run(LintBlocks({"\t\xC3\x98 (G81)"}));
  EXPECT_EQ(run.out,
            "<block>:1:6: warning: \"G81\" inside a comment makes a drill block (table line 6, "
            "number 81) [trigger-in-comment]\n"
            "\t\xC3\x98 (G81)\n"
            "\t   ^\n"
            "summary: 1 program, 1 block: 1 warning, 0 notes (trigger-in-comment 1)\n");
}

TEST(Lint, ColourOnlyOnATerminalWithoutNoColor) {
  const PluginFolder plugin(kTable);
  const std::string warning = "\033[1;35mwarning:\033[0m";
  const std::vector<std::string> args{
      "--plugin", plugin.folder().path() + "ncdrill.so", "--table", "t.txt", "--lint", "--block",
      "G81.5"};
  EXPECT_NE(RunReplayOnTerminal(args, nullptr).out.find(warning), std::string::npos);
  EXPECT_EQ(RunReplayOnTerminal(args, "1").out.find('\033'), std::string::npos);
  EXPECT_EQ(RunReplay(args).out.find('\033'), std::string::npos);  // a file
  std::vector<std::string> always = args;
  always.push_back("--color=always");
  EXPECT_NE(RunReplay(always).out.find(warning), std::string::npos);

  using ncdrill_replay::ColourMode;
  using ncdrill_replay::WantsColour;
  EXPECT_TRUE(WantsColour(ColourMode::kAuto, true, false));
  EXPECT_FALSE(WantsColour(ColourMode::kAuto, true, true));
  EXPECT_FALSE(WantsColour(ColourMode::kAuto, false, false));
  EXPECT_TRUE(WantsColour(ColourMode::kAlways, false, true));
  EXPECT_FALSE(WantsColour(ColourMode::kNever, true, false));
}

TEST(Lint, SeveralProgramsEachThroughItsOwnInterpreter) {
  const PluginFolder plugin(kTable);
  const std::string& dir = plugin.folder().path();
  plugin.folder().Write("a.nc", "T12\n");
  plugin.folder().Write("b.nc", "G81 X0\n");
  const ToolRun run = plugin.Run({"--lint", "--explain", dir + "a.nc", dir + "b.nc"});
  EXPECT_EQ(run.status, 3) << run.err;
  // The request of a.nc stays in a.nc's interpreter: b.nc's drill block
  // hands over nothing.
  const std::size_t lost = run.out.find(dir +
                                        "a.nc:1:1: warning: 1 request made after the last "
                                        "drill block never reaches the host");
  const std::size_t drill =
      run.out.find("drill block: the terminal record gets -81; no Selections");
  EXPECT_NE(lost, std::string::npos) << run.out;
  EXPECT_NE(drill, std::string::npos) << run.out;
  EXPECT_LT(lost, drill) << "in the order given";
  EXPECT_NE(run.out.find("summary: 2 programs, 2 blocks: 1 warning, 0 notes "
                         "(requests-after-last-drill 1)\n"),
            std::string::npos)
      << run.out;
}

TEST(Explain, SaysWhatWasDecidedAndWhy) {
  const PluginFolder plugin(kTable);
  const ToolRun run =
      plugin.Run({"--explain", "--block", "T15 M9 G21", "--block", "X1", "--block", "G81.5 G81"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "<block>:1: T15 M9 G21\n"
            "  column 1: \"T15\" is a tool request; \"M9\" at column 5 makes 15 a mask: bits 0, "
            "1, 2 and 3 ask for spindles 301, 302, 303 and 304\n"
            "  column 1: request spindle 301 (bit 0) -> slot 301: in the table\n"
            "  column 1: request spindle 302 (bit 1) -> slot 302: in the table\n"
            "  column 1: request spindle 303 (bit 2) -> slot 302: no 303 in the table: the next "
            "lower number is 302\n"
            "  column 1: request spindle 304 (bit 3) -> slot 302: no 303 or 304 in the table: the "
            "next lower number is 302\n"
            "  column 8: \"G21\": units stay metric\n"
            "  InterpretBlock returns true\n"
            "<block>:3: G81.5 G81\n"
            "  column 1: \"G81\" (table line 6, number 81) does not trigger: '.' follows it; the "
            "one at column 7 would trigger, but only the first occurrence counts\n"
            "  InterpretBlock returns false\n"
            "summary: 1 program, 3 blocks, 2 explained\n");
}

TEST(ExplainJson, EveryExplanationAndFindingReadsBack) {
  const PluginFolder plugin(kTable);
  const ToolRun run =
      plugin.Run({"--explain", "--lint", "--json", "--block", "T15", "--block", "(G82)"});
  ASSERT_EQ(run.status, 3) << run.err;
  const std::vector<Json> events = JsonLines(run.out);
  ASSERT_EQ(events.size(), 5u) << run.out;  // explain, finding, explain, finding, summary
  const Json& explain = events[0];
  EXPECT_EQ(explain.at("event"), "explain");
  EXPECT_EQ(explain.at("file"), "<block>");
  EXPECT_EQ(explain.at("line"), 1);
  EXPECT_EQ(explain.at("text"), "T15");
  EXPECT_EQ(explain.at("result"), true);
  EXPECT_EQ(explain.at("decisions").at(1).at("what"), "request");
  EXPECT_EQ(explain.at("decisions").at(1).at("column"), 1);
  const Json& lower = events[1];
  EXPECT_EQ(lower.at("event"), "finding");
  EXPECT_EQ(lower.at("severity"), "note");
  EXPECT_EQ(lower.at("kind"), "lower-slot");
  EXPECT_EQ(lower.at("column"), 1);
  const Json& comment = events[3];
  EXPECT_EQ(comment.at("kind"), "trigger-in-comment");
  EXPECT_EQ(comment.at("line"), 2);
  EXPECT_EQ(comment.at("column"), 2);
  EXPECT_EQ(comment.at("text"), "(G82)");
  const Json& summary = events[4];
  EXPECT_EQ(summary.at("warnings"), 1);
  EXPECT_EQ(summary.at("notes"), 1);
  EXPECT_EQ(summary.at("kinds"), (Json{{"lower-slot", 1}, {"trigger-in-comment", 1}}));
}

TEST(Lint, ShippedExamplesHoldNoWarnings) {
  const ToolRun flange = RunReplay({"--lint", ExamplesFolder() + "flange_inch.nc"});
  EXPECT_EQ(flange.status, 0) << flange.err;
  EXPECT_EQ(flange.out, "summary: 1 program, 45 blocks: 0 warnings, 0 notes\n");
  // T15 resolving to 12 is the example's point: a note, not a warning.
  const ToolRun plate = RunReplay({"--lint", ExamplesFolder() + "plate_metric.nc"});
  EXPECT_EQ(plate.status, 0) << plate.err;
  EXPECT_EQ(FindingHeaders(plate.out),
            Headers{ExamplesFolder() + "plate_metric.nc:19:6: note lower-slot"});
}

TEST(Lint, TheSurprisesExampleShowsEachKind) {
  const std::string file = ExamplesFolder() + "surprises.nc:";
  const ToolRun run = RunReplay({"--lint", ExamplesFolder() + "surprises.nc"});
  EXPECT_EQ(run.status, 3) << run.err;
  EXPECT_EQ(FindingHeaders(run.out), (Headers{
                                         file + "5:5: warning near-miss",
                                         file + "6:6: warning trigger-in-comment",
                                         file + "7:20: warning ignored-tool-word",
                                         file + "8:5: warning lowercase-t",
                                         file + "9:5: note lower-slot",
                                         file + "11:5: warning m9-inside-code",
                                         file + "13:27: warning hidden-units",
                                         file + "14:6: warning near-miss",
                                         file + "15:6: warning no-slot",
                                         file + "16:6: warning mask-bits-above-13",
                                         file + "18:6: warning saturated-value",
                                         file + "18:6: note lower-slot",
                                         file + "18:6: warning requests-after-last-drill",
                                     }))
      << run.out;
}

// The agreement check, against a plug-in that differs from ncdrill.so.
TEST(Agreement, APluginThatDiffersIsCaughtAtItsLine) {
  const PluginFolder plugin("9 DRILL\n", NCDRILL_CONTRARY_PLUGIN);
  plugin.folder().Write("t.nc", "T1 M6\nX0\nt5\n");
  plugin.folder().Write("d.nc", "X0\nDRILL\n");
  const std::string& dir = plugin.folder().path();
  const ToolRun result = plugin.Run({"--lint", dir + "t.nc"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "ncdrill-replay: " + dir +
                            "t.nc:3: the plug-in does not do what the explanation says: it "
                            "returned true, the explanation says false\n");
  const ToolRun chain = plugin.Run({"--explain", dir + "d.nc"});
  EXPECT_EQ(chain.status, 1);
  EXPECT_NE(chain.err.find("d.nc:2: the plug-in does not do what the explanation says: record 1 "
                           "holds 4242="),
            std::string::npos)
      << chain.err;
}

// What a replay shows comes from the plug-in it loads, not from the
// explainer the tool links.
TEST(Agreement, ReplayShowsTheDrillBlocksOfTheLoadedPlugin) {
  const PluginFolder plugin("9 DRILL\n", NCDRILL_CONTRARY_PLUGIN);
  plugin.folder().Write("d.nc", "DRILL\n");
  const ToolRun run = plugin.Run({plugin.folder().path() + "d.nc"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("line 1: DRILL\n  trigger: 4242\n  chain: 4242=1.5 -4242=0\n"
                         "  selections: none\n"),
            std::string::npos)
      << run.out;
}

}  // namespace
}  // namespace ncdrill_test
