// The command line of ncdrill-replay.
#ifndef NCDRILL_TOOLS_REPLAY_OPTIONS_H
#define NCDRILL_TOOLS_REPLAY_OPTIONS_H

#include <optional>
#include <string>

namespace ncdrill_replay {

struct Options {
  std::optional<std::string> plugin;          // --plugin PATH
  std::optional<std::string> definitionName;  // --definition NAME, passed as it is
  std::optional<std::string> tableName;       // --table NAME, passed as it is
  bool json = false;
  bool quiet = false;
  bool explainTable = false;
  bool help = false;
  bool version = false;
  // The program to replay ("-" for standard input) or, with --explain-table,
  // the table file to explain (empty: the plug-in's own table).
  std::string operand;
};

// Parses argv. On a usage error returns false and sets `error` to a
// one-line message.
bool ParseOptions(int argc, const char* const* argv, Options& options, std::string& error);

// The text of --help.
const char* UsageText();

}  // namespace ncdrill_replay

#endif
