#include "options.h"

#include <CLI/CLI.hpp>
#include <memory>

namespace ncdrill_replay {
namespace {

constexpr const char* kDescription =
    R"(Usage: ncdrill-replay [options] PROGRAM
       ncdrill-replay [options] --explain|--lint PROGRAM... | --block TEXT...
       ncdrill-replay [options] --explain-table [TABLE]

Runs an NC program through the ncdrill plug-in, one line per block, as a
host application does, and shows what the plug-in hands the host: the
definition path, each drill block (the block, the trigger's number, the
record chain and the Selections) and a summary. PROGRAM "-" reads standard
input.

--explain says, for each block in which anything happens, what the plug-in
decided and why; --lint reports only the surprises, as compilers report
warnings (FILE:LINE:COLUMN: warning: ...). Both take several programs, each
run through its own interpreter, and check block by block that the loaded
plug-in does what the explanation says.)";

constexpr const char* kFooter =
    R"(Exit status: 0 when the run completed with nothing to warn about; 1 when an
input, the plug-in or the output failed, or the plug-in did not do what the
explanation says (with a one-line message); 2 for a usage error; 3 when
--lint reported a warning (notes alone leave the status 0).)";

// The description starts with the tool's own usage lines, which say more
// than the one CLI11 would derive.
class HelpFormatter final : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App*, std::string) const override { return ""; }
};

struct Parsed {
  std::string explainTableFile;
  std::string colour = "auto";
};

void Define(CLI::App& app, Options& options, Parsed& parsed) {
  app.set_help_flag("-h,--help", "this text");
  app.add_flag("--version", options.version, "the version");
  app.add_option_function<std::string>(
         "--plugin", [&options](const std::string& path) { options.plugin = path; },
         "the plug-in to load (default: the ncdrill.so, or ncdrill.dll, beside this tool, "
         "else ../lib/ncdrill/ncdrill.so from it)")
      ->type_name("PATH");
  app.add_option_function<std::string>(
         "--definition", [&options](const std::string& name) { options.definitionName = name; },
         "definition file name passed to GetInterpreter")
      ->type_name("NAME");
  app.add_option_function<std::string>(
         "--table", [&options](const std::string& name) { options.tableName = name; },
         "table file name passed to GetInterpreter")
      ->type_name("NAME");
  app.add_flag("--explain", options.explain,
               "say why each block did or did not make a drill block");
  app.add_flag("--lint", options.lint, "report only the surprises in the programs and the table");
  app.add_option("--block", options.blocks,
                 "a block to take instead of a program (repeatable); the blocks are named "
                 "<block> and numbered 1, 2, ...")
      ->type_name("TEXT")
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_flag("--json", options.json, "one JSON object per line per event");
  app.add_flag("-q,--quiet", options.quiet, "the summary only");
  app.add_option("--color,--colour", parsed.colour,
                 "colour in findings: auto (on a terminal, unless NO_COLOR is set), always, never")
      ->type_name("WHEN")
      ->check(CLI::IsMember({"auto", "always", "never"}));
  app.add_option("--explain-table", parsed.explainTableFile,
                 "show how every line of a table file is taken, and run no program. TABLE "
                 "defaults to the table the plug-in reads: its folder followed by --table NAME "
                 "or VONDRIX_4.txt")
      ->type_name("[TABLE]")
      ->expected(0, 1);
  app.add_option("files", options.files, "programs, or with --explain-table the table")
      ->type_name("FILE");
  app.footer(kFooter);
}

void MakeApp(CLI::App& app, Options& options, Parsed& parsed) {
  app.description(kDescription);
  app.name("ncdrill-replay");
  // "/path/to/program.nc" is a file on every system, never a Windows-style option.
  app.allow_windows_style_options(false);
  app.formatter(std::make_shared<HelpFormatter>());
  app.get_formatter()->column_width(26);
  Define(app, options, parsed);
}

ColourMode ColourModeOf(const std::string& name) {
  if (name == "always") return ColourMode::kAlways;
  if (name == "never") return ColourMode::kNever;
  return ColourMode::kAuto;
}

// The rules CLI11 cannot state: which operands each job takes.
bool CheckOperands(Options& options, const std::string& explainTableFile, std::string& error) {
  if (options.explainTable) {
    if (options.explain || options.lint || !options.blocks.empty()) {
      error = "--explain-table explains a table and runs no program";
    } else if (options.files.size() + (explainTableFile.empty() ? 0 : 1) > 1) {
      error = "--explain-table takes one table only";
    } else if (!explainTableFile.empty()) {
      options.files.push_back(explainTableFile);
    }
    return error.empty();
  }
  if (!options.blocks.empty() && !options.files.empty()) {
    error = "give programs or --block, not both";
  } else if (options.blocks.empty() && options.files.empty()) {
    error = "no program given (see --help)";
  } else if (!options.explain && !options.lint && options.files.size() > 1) {
    error = "one program only without --explain or --lint, but got also " + options.files[1];
  }
  return error.empty();
}

}  // namespace

bool ParseOptions(int argc, const char* const* argv, Options& options, std::string& error) {
  CLI::App app;
  Parsed parsed;
  MakeApp(app, options, parsed);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    options.help = true;
    return true;
  } catch (const CLI::ParseError& e) {
    error = std::string(e.what()) + " (see --help)";
    return false;
  }
  if (options.version) return true;
  options.explainTable = app.count("--explain-table") > 0;
  options.colour = ColourModeOf(parsed.colour);
  return CheckOperands(options, parsed.explainTableFile, error);
}

std::string UsageText() {
  CLI::App app;
  Options options;
  Parsed parsed;
  MakeApp(app, options, parsed);
  return app.help();
}

bool WantsColour(ColourMode mode, bool outputIsTerminal, bool noColorSet) {
  switch (mode) {
    case ColourMode::kAlways:
      return true;
    case ColourMode::kNever:
      return false;
    case ColourMode::kAuto:
      break;
  }
  return outputIsTerminal && !noColorSet;
}

}  // namespace ncdrill_replay
