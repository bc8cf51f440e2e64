// The command line of ncdrill-replay.
#ifndef NCDRILL_TOOLS_REPLAY_OPTIONS_H
#define NCDRILL_TOOLS_REPLAY_OPTIONS_H

#include <optional>
#include <string>
#include <vector>

namespace ncdrill_replay {

enum class ColourMode { kAuto, kAlways, kNever };

struct Options {
  std::optional<std::string> plugin;          // --plugin PATH
  std::optional<std::string> definitionName;  // --definition NAME, passed as it is
  std::optional<std::string> tableName;       // --table NAME, passed as it is
  bool json = false;
  bool quiet = false;
  bool explainTable = false;
  bool explain = false;
  bool lint = false;
  bool help = false;
  bool version = false;
  ColourMode colour = ColourMode::kAuto;
  std::vector<std::string> blocks;  // --block TEXT, in the order given
  // The programs ("-" for standard input) or, with --explain-table, the
  // table file to explain (none: the plug-in's own table).
  std::vector<std::string> files;
};

// Parses argv. On a usage error returns false and sets `error` to a
// one-line message.
bool ParseOptions(int argc, const char* const* argv, Options& options, std::string& error);

// The text of --help.
std::string UsageText();

// Whether findings are written in colour: `kAuto` colours a terminal, unless
// the NO_COLOR environment variable is set (to anything).
bool WantsColour(ColourMode mode, bool outputIsTerminal, bool noColorSet);

}  // namespace ncdrill_replay

#endif
