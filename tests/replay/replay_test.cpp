// ncdrill-replay run as a separate process on the examples, on crafted
// programs and tables, and on every kind of bad input.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "plugin_host.h"
#include "tool_runner.h"

namespace ncdrill_test {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The report with what differs from run to run replaced: the build folder
// and the timing.
std::string Normalized(std::string text) {
  const std::string folder = ReplayFolder();
  for (std::size_t at; (at = text.find(folder)) != std::string::npos;) {
    text.replace(at, folder.size(), "<bin>/");
  }
  static const std::regex kTiming("[0-9]+\\.[0-9]+ s, [0-9]+ blocks/s");
  return std::regex_replace(text, kTiming, "<seconds> s, <rate> blocks/s");
}

// Each line parsed on its own, strictly (valid UTF-8 included), as a
// script reads it.
std::vector<Json> JsonLines(const std::string& out) {
  std::vector<Json> events;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) events.push_back(Json::parse(line));
  return events;
}

std::vector<Json> Drills(const std::vector<Json>& events) {
  std::vector<Json> drills;
  for (const Json& e : events) {
    if (e.at("event") == "drill") drills.push_back(e);
  }
  return drills;
}

// A failed run: a normal exit with `status`, nothing on standard output
// and one line on standard error that starts with the tool's name.
void ExpectOneLineError(const ToolRun& run, int status, const std::string& fragment) {
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(run.status, status);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("ncdrill-replay: ", 0), 0u) << run.err;
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  EXPECT_NE(run.err.find(fragment), std::string::npos) << run.err;
}

TEST(ReplayExamples, ReportsMatchTheCheckedOutputs) {
  for (const char* program : {"plate_metric", "flange_inch"}) {
    SCOPED_TRACE(program);
    const ToolRun run = RunReplay({ExamplesFolder() + program + ".nc"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(Normalized(run.out),
              ReadFile(std::string(NCDRILL_EXPECTED_DIR "/") + program + ".txt"));
  }
}

TEST(ReplayExamples, StandardInputAndQuietMode) {
  const std::string program = ExamplesFolder() + "plate_metric.nc";
  const ToolRun fromFile = RunReplay({program});
  const ToolRun fromInput = RunReplay({"-"}, program);
  EXPECT_EQ(fromInput.status, 0);
  EXPECT_EQ(Normalized(fromInput.out), Normalized(fromFile.out));

  const ToolRun quiet = RunReplay({"--quiet", program});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(Normalized(quiet.out),
            "summary: 51 blocks, 7 returned true, 8 requests accepted, 5 drill blocks, "
            "<seconds> s, <rate> blocks/s\n");
}

TEST(ReplayJson, EveryLineParsesAndCarriesTheReport) {
  const ToolRun run = RunReplay({"--json", ExamplesFolder() + "plate_metric.nc"});
  ASSERT_EQ(run.status, 0);
  const std::vector<Json> events = JsonLines(run.out);
  ASSERT_EQ(events.size(), 7u);  // definition, five drill blocks, summary
  EXPECT_EQ(events.front().at("event"), "definition");
  EXPECT_EQ(events.front().at("path"), ReplayFolder() + "VONDRIX_4.xml");

  const std::vector<Json> drills = Drills(events);
  ASSERT_EQ(drills.size(), 5u);
  const Json& peck = drills[1];
  EXPECT_EQ(peck.at("line"), 23);
  EXPECT_EQ(peck.at("text"), "N170 G83 X20. Y20. Z-15. R2. Q3. F150");
  EXPECT_EQ(peck.at("trigger"), 83);
  const Json& chain = peck.at("chain");
  ASSERT_EQ(chain.size(), 26u);  // 25 table records and the terminal one
  EXPECT_EQ(chain[0].at("number"), 301);
  EXPECT_EQ(chain[0].at("value"), 127);
  EXPECT_EQ(chain[18].at("number"), 12);  // T15 resolved to tool 12
  EXPECT_EQ(chain[18].at("value"), 0);
  EXPECT_EQ(chain[25].at("number"), -83);
  ASSERT_EQ(peck.at("selections").size(), 1u);
  EXPECT_EQ(peck.at("selections").at(0).at("slot"), 12);
  EXPECT_EQ(peck.at("selections").at(0).at("requested"), 15);

  const Json& summary = events.back();
  EXPECT_EQ(summary.at("event"), "summary");
  EXPECT_EQ(summary.at("blocks"), 51);
  EXPECT_EQ(summary.at("returnedTrue"), 7);
  EXPECT_EQ(summary.at("requestsAccepted"), 8);
  EXPECT_EQ(summary.at("drillBlocks"), 5);
  EXPECT_GE(summary.at("seconds"), 0);
  EXPECT_GE(summary.at("blocksPerSecond"), 0);
}

TEST(ReplayJson, AnyBlockTextGivesValidJsonThatReadsBack) {
  TempFolder folder;
  // Quotes, a backslash, a tab, a control byte, UTF-8 "Ø" and a lone
  // Latin-1 byte 0xD8, which reads back as the same "Ø".
  folder.Write("p.nc", "G81 \"q\" \\ a\tb \x01 \xC3\x98 \xD8 \xFF\n");
  const ToolRun run = RunReplay({"--json", folder.path() + "p.nc"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<Json> drills = Drills(JsonLines(run.out));
  ASSERT_EQ(drills.size(), 1u);
  EXPECT_EQ(drills[0].at("text"), "G81 \"q\" \\ a\tb \x01 \xC3\x98 \xC3\x98 \xC3\xBF");
}

TEST(ReplayBlocks, EachLineIsOneBlockWithoutItsLineEnd) {
  TempFolder folder;
  // CR LF and LF ends, an empty line, a carriage return inside a line and a
  // last line without a line feed.
  folder.Write("p.nc", "T1 M6\r\nG81 X0\r\n\nG81\rZ\nG82");
  const ToolRun run = RunReplay({"--json", folder.path() + "p.nc"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<Json> events = JsonLines(run.out);
  const std::vector<Json> drills = Drills(events);
  ASSERT_EQ(drills.size(), 3u);
  EXPECT_EQ(drills[0].at("line"), 2);
  EXPECT_EQ(drills[0].at("text"), "G81 X0");
  EXPECT_EQ(drills[0].at("selections").size(), 1u);
  EXPECT_EQ(drills[1].at("line"), 4);
  EXPECT_EQ(drills[1].at("text"), "G81\rZ");
  EXPECT_EQ(drills[2].at("line"), 5);
  EXPECT_EQ(drills[2].at("text"), "G82");
  EXPECT_EQ(events.back().at("blocks"), 5);
  EXPECT_EQ(events.back().at("returnedTrue"), 1);

  folder.Write("empty.nc", "");
  const ToolRun empty = RunReplay({"--quiet", folder.path() + "empty.nc"});
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.out.rfind("summary: 0 blocks, 0 returned true", 0), 0u) << empty.out;
}

TEST(ReplayBlocks, NamesReachGetInterpreterAsTheyStand) {
  TempFolder folder;
  fs::copy_file(BuiltPluginFile(), folder.path() + "ncdrill.so");
  folder.Write("mine.txt", "7 DRILL\n");
  folder.Write("p.nc", "T7\nDRILL\n");
  const ToolRun run = RunReplay({"--plugin", folder.path() + "ncdrill.so", "--definition",
                                 "sub/d.xml", "--table=mine.txt", folder.path() + "p.nc"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.substr(0, run.out.find("summary")), "definition path: " + folder.path() +
                                                            "sub/d.xml\n"
                                                            "line 2: DRILL\n"
                                                            "  trigger: 7\n"
                                                            "  chain: 7=0 -7=0\n"
                                                            "  selections: (7, 7)\n");
}

// Writes a program of `lines` lines that make drill blocks all along.
void WriteLongProgram(const std::string& path, int lines) {
  std::ofstream out(path, std::ios::binary);
  static const char* const kCycle[] = {"N1 T12 M6",       "N2 G81 X10. Y10. Z-5. R1. F100",
                                       "N3 X20.",         "N4 T7 M9 (HEAD)",
                                       "N5 G83 Z-9. Q2.", "N6 G80"};
  for (int i = 0; i < lines; ++i) out << kCycle[i % 6] << '\n';
}

TEST(ReplayBlocks, AMillionLinesRunInMemoryThatDoesNotGrow) {
  TempFolder folder;
  WriteLongProgram(folder.path() + "short.nc", 600);
  WriteLongProgram(folder.path() + "long.nc", 1000000);
  const ToolRun small = RunReplay({"--quiet", folder.path() + "short.nc"});
  const ToolRun large = RunReplay({"--quiet", folder.path() + "long.nc"});
  ASSERT_EQ(large.status, 0) << large.err;
  EXPECT_EQ(large.out.rfind("summary: 1000000 blocks, 333334 returned true, 666665 requests "
                            "accepted, 333333 drill blocks",
                            0),
            0u)
      << large.out;
  EXPECT_LT(large.maxRssKiB - small.maxRssKiB, 4 * 1024) << "KiB; the program is 20 MB";
}

TEST(ReplayErrors, BadProgramsAreNamed) {
  TempFolder folder;
  ExpectOneLineError(RunReplay({folder.path() + "missing.nc"}), 1,
                     "cannot open " + folder.path() + "missing.nc: No such file or directory");
  ExpectOneLineError(RunReplay({folder.path()}), 1,
                     "cannot read " + folder.path() + ": Is a directory");
}

TEST(ReplayErrors, PluginsThatCannotServeAreNamed) {
  TempFolder folder;
  const std::string program = ExamplesFolder() + "plate_metric.nc";
  folder.Write("text.so", "not a library\n");
  // The loader's own messages name the file and the cause.
  ExpectOneLineError(
      RunReplay({"--plugin", folder.path() + "text.so", program}), 1,
      "cannot load the ncdrill plug-in " + folder.path() + "text.so: file too short");
  ExpectOneLineError(RunReplay({"--plugin", folder.path() + "none.so", program}), 1,
                     "none.so: cannot open shared object file: No such file or directory");
  ExpectOneLineError(RunReplay({"--plugin", NCDRILL_NO_ENTRY_PLUGIN, program}), 1,
                     NCDRILL_NO_ENTRY_PLUGIN
                     " is not an ncdrill plug-in: it exports no "
                     "GetInterpreter");
  ExpectOneLineError(RunReplay({"--plugin", NCDRILL_NULL_PLUGIN, program}), 1,
                     "GetInterpreter returned no interpreter");
}

TEST(ReplayErrors, UsageErrorsExitWithTwo) {
  ExpectOneLineError(RunReplay({}), 2, "no program given");
  ExpectOneLineError(RunReplay({"--frobnicate", "p.nc"}), 2, "not expected: --frobnicate");
  ExpectOneLineError(RunReplay({"p.nc", "--plugin"}), 2, "--plugin: 1 required PATH missing");
  ExpectOneLineError(RunReplay({"a.nc", "b.nc"}), 2, "one program only without --explain");
  ExpectOneLineError(RunReplay({"--lint", "--block", "X1", "a.nc"}), 2,
                     "give programs or --block, not both");
  ExpectOneLineError(RunReplay({"--explain-table", "--lint"}), 2, "runs no program");
  ExpectOneLineError(RunReplay({"--lint", "--color", "red", "a.nc"}), 2,
                     "--color: red not in {auto,always,never}");

  const ToolRun help = RunReplay({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: ncdrill-replay [options] PROGRAM\n", 0), 0u) << help.out;
  EXPECT_NE(help.out.find("3 when\n--lint reported a warning"), std::string::npos) << help.out;
  EXPECT_EQ(RunReplay({"--version"}).out, "ncdrill-replay " NCDRILL_VERSION "\n");
}

TEST(ExplainTable, ShowsHowEveryTrickyLineIsTaken) {
  TempFolder folder;
  const std::string longLine = "7 " + std::string(298, 'A');
  folder.Write("t.txt", "# head\n\n  12.5, A B \n\t5 Y\nG81 \r\n #x\n81 G81\n81 G81\n" + longLine +
                            "\nnever read\n");
  const ToolRun run = RunReplay({"--explain-table", folder.path() + "t.txt"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string cut = "7\u00B7" + std::string(252, 'A');
  EXPECT_EQ(run.out,
            "table: " + folder.path() +
                "t.txt\n"
                "    1  comment  # head\n"
                "    2  empty\n"
                "    3  taken    \"\u00B7\u00B712.5,\u00B7A\u00B7B\u00B7\" -> number 12, name "
                "\"A\u00B7B\u00B7\"\n"
                "         ! the name ends with a blank: it triggers only where one follows it\n"
                "    4  taken    \"\u21925\u00B7Y\" -> number 5, name \"\u21925\u00B7Y\"\n"
                "         ! the name starts at a tab: only blanks, digits and + , - . come before "
                "a name\n"
                "    5  taken    \"G81\u00B7\" -> number 0, name \"G81\u00B7\"\n"
                "         ! no digits at the start: the number is 0\n"
                "         ! the name ends with a blank: it triggers only where one follows it\n"
                "    6  taken    \"\u00B7#x\" -> number 0, name \"#x\"\n"
                "         ! not a comment: '#' counts only in column 1\n"
                "         ! no digits at the start: the number is 0\n"
                "         ! duplicate number: also on line 5\n"
                "    7  taken    \"81\u00B7G81\" -> number 81, name \"G81\"\n"
                "    8  taken    \"81\u00B7G81\" -> number 81, name \"G81\"\n"
                "         ! duplicate number: also on line 7\n"
                "         ! duplicate name: line 7 triggers first, so this line never does\n"
                "    9  taken    \"" +
                cut + "\" -> number 7, name \"" + cut.substr(3) +
                "\"\n"
                "         ! longer than 254 characters: these are its first 254, and reading "
                "stops here\n"
                "9 lines: 7 taken (7 with a name), 1 comment, 1 empty; reading stopped at line 9, "
                "which is longer than 254 characters: the lines after it are not read\n");
}

TEST(ExplainTable, ShowsWhereACtrlZEndedTheFile) {
  TempFolder folder;
  folder.Write("t.txt", "1 A\r\n2 B\r\x1A\r\n3 C\r\n");
  const ToolRun run = RunReplay({"--explain-table", folder.path() + "t.txt"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "table: " + folder.path() +
                         "t.txt\n"
                         "    1  taken    \"1\u00B7A\" -> number 1, name \"A\"\n"
                         "    2  taken    \"2\u00B7B\u240D\" -> number 2, name \"B\u240D\"\n"
                         "         ! the name holds a carriage return\n"
                         "    2  end      Ctrl-Z at column 5: the file ends here, nothing after it "
                         "is read\n"
                         "2 lines: 2 taken (2 with a name), 0 comments, 0 empty; a Ctrl-Z ended "
                         "the file at line 2, column 5: nothing after it is read\n");
}

TEST(ExplainTable, DefaultsToThePluginsOwnTable) {
  const ToolRun run = RunReplay({"--explain-table"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.rfind("table: " + ReplayFolder() + "VONDRIX_4.txt\n", 0), 0u);
  EXPECT_NE(run.out.find("   54  taken    \"81\u00B7G81\" -> number 81, name \"G81\"\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("25 taken (5 with a name)"), std::string::npos);
  EXPECT_EQ(run.out.find(" ! "), std::string::npos) << "the shipped table has no surprises";

  ExpectOneLineError(
      RunReplay({"--explain-table", "--table", "nothing.txt"}), 1,
      "cannot open the table " + ReplayFolder() + "nothing.txt: No such file or directory");
}

}  // namespace
}  // namespace ncdrill_test
