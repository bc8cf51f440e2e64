// The two jobs of ncdrill-replay: replaying a program through the plug-in,
// and explaining a table file.
#ifndef NCDRILL_TOOLS_REPLAY_REPLAY_H
#define NCDRILL_TOOLS_REPLAY_REPLAY_H

#include <string>

#include "options.h"

namespace ncdrill_replay {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Each returns an exit status; on failure `error` holds a one-line message.
int Replay(const Options& options, std::string& error);
int Explain(const Options& options, std::string& error);

}  // namespace ncdrill_replay

#endif
