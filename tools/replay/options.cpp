#include "options.h"

#include <string_view>

namespace ncdrill_replay {
namespace {

// Takes the value of an option given as "--name VALUE" or "--name=VALUE".
// Returns false when the option is not `name`; sets `error` when its value
// is missing.
bool TakeValue(std::string_view name, int argc, const char* const* argv, int& i,
               std::optional<std::string>& value, std::string& error) {
  const std::string_view arg = argv[i];
  if (arg.substr(0, name.size()) != name) return false;
  if (arg.size() > name.size()) {
    if (arg[name.size()] != '=') return false;
    value = std::string(arg.substr(name.size() + 1));
    return true;
  }
  if (i + 1 >= argc) {
    error = std::string(name) + " needs a value";
    return true;
  }
  value = argv[++i];
  return true;
}

bool TakeFlag(std::string_view arg, Options& options) {
  if (arg == "--json") return options.json = true;
  if (arg == "--quiet" || arg == "-q") return options.quiet = true;
  if (arg == "--explain-table") return options.explainTable = true;
  if (arg == "--help" || arg == "-h") return options.help = true;
  if (arg == "--version") return options.version = true;
  return false;
}

bool TakeOperand(const char* arg, Options& options, bool& haveOperand, std::string& error) {
  if (haveOperand) {
    error = std::string("one file only, but got also ") + arg;
    return false;
  }
  options.operand = arg;
  haveOperand = true;
  return true;
}

// Takes the option at argv[i] and its value, if it has one.
bool TakeOption(int argc, const char* const* argv, int& i, Options& options,
                std::optional<std::string>& explainFile, std::string& error) {
  const std::string_view arg = argv[i];
  if (TakeFlag(arg, options)) return true;
  if (TakeValue("--plugin", argc, argv, i, options.plugin, error) ||
      TakeValue("--definition", argc, argv, i, options.definitionName, error) ||
      TakeValue("--table", argc, argv, i, options.tableName, error) ||
      TakeValue("--explain-table", argc, argv, i, explainFile, error)) {
    return error.empty();
  }
  error = "unknown option " + std::string(arg) + " (see --help)";
  return false;
}

}  // namespace

bool ParseOptions(int argc, const char* const* argv, Options& options, std::string& error) {
  bool haveOperand = false;
  bool onlyOperands = false;
  std::optional<std::string> explainFile;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (onlyOperands || arg == "-" || arg.empty() || arg[0] != '-') {
      if (!TakeOperand(argv[i], options, haveOperand, error)) return false;
    } else if (arg == "--") {
      onlyOperands = true;
    } else if (!TakeOption(argc, argv, i, options, explainFile, error)) {
      return false;
    }
    if (explainFile) {
      options.explainTable = true;
      if (!TakeOperand(explainFile->c_str(), options, haveOperand, error)) return false;
      explainFile.reset();
    }
  }
  if (!haveOperand && !options.explainTable && !options.help && !options.version) {
    error = "no program given (see --help)";
    return false;
  }
  return true;
}

const char* UsageText() {
  return R"(Usage: ncdrill-replay [options] PROGRAM.nc
       ncdrill-replay [options] --explain-table [TABLE]

Runs an NC program through the ncdrill plug-in, one line per block, as a
host application does, and shows what the plug-in hands the host: the
definition path, each drill block (the block, the trigger's number, the
record chain and the Selections) and a summary. PROGRAM "-" reads standard
input.

Options:
  --plugin PATH         the plug-in to load (default: the ncdrill.so, or
                        ncdrill.dll, beside this tool, else
                        ../lib/ncdrill/ncdrill.so from it)
  --definition NAME     definition file name passed to GetInterpreter
  --table NAME          table file name passed to GetInterpreter
  --json                one JSON object per line per event
  --quiet, -q           the summary only
  --explain-table [TABLE]
                        show how every line of a table file is taken, and
                        run no program. TABLE defaults to the table the
                        plug-in reads: its folder followed by --table NAME
                        or VONDRIX_4.txt
  --help, -h            this text
  --version             the version

Exit status: 0 when the run completed, 1 when an input, the plug-in or the
output failed (with a one-line message), 2 for a usage error.
)";
}

}  // namespace ncdrill_replay
