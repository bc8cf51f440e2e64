// The jobs of ncdrill-replay: replaying a program through the plug-in,
// explaining and linting programs, and explaining a table file.
#ifndef NCDRILL_TOOLS_REPLAY_REPLAY_H
#define NCDRILL_TOOLS_REPLAY_REPLAY_H

#include <optional>
#include <string>

#include "options.h"

namespace ncdrill_replay {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitFindings = 3;  // --lint reported a warning

// Each returns an exit status; on failure `error` holds a one-line message.
int Replay(const Options& options, std::string& error);
int Examine(const Options& options, std::string& error);  // --explain and --lint
int Explain(const Options& options, std::string& error);  // --explain-table

// The plug-in the options name, and the table file it reads: its folder
// followed by --table NAME or the default name, as it stands.
std::string PluginPath(const Options& options);
std::string PluginTablePath(const Options& options);

const char* OrNull(const std::optional<std::string>& name);

}  // namespace ncdrill_replay

#endif
