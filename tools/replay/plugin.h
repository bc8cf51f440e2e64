// Finds and loads ncdrill.so the way a host application does, through the
// host helper. Nothing of the plug-in is linked into the tool.
#ifndef NCDRILL_TOOLS_REPLAY_PLUGIN_H
#define NCDRILL_TOOLS_REPLAY_PLUGIN_H

#include <optional>
#include <string>

#include "ncdrill/host.hpp"

namespace ncdrill_replay {

// Where the tool looks for the plug-in when --plugin is not given, relative
// to the folder of its own executable: first beside it (the build folder),
// then NCDRILL_INSTALLED_PLUGIN (the installed layout, e.g.
// ../lib/ncdrill/ncdrill.so). Returns the first of these that exists, or
// the first one when neither does.
std::string DefaultPluginPath();

// A bare file name as a path in the working folder: "./" before it.
std::string AsLoadablePath(const std::string& path);

// The folder of a file path, ending with '/': "./" for a bare name.
std::string FolderOf(const std::string& path);

// Loads the plug-in at `path` as a host does. On failure, returns nothing
// and sets `error` to a one-line message naming the file and the loader's
// own reason.
std::optional<ncdrill::Plugin> LoadPlugin(const std::string& path, std::string& error);

// A new interpreter of `plugin` feeding `handler`, with the file names as
// they are given. On failure, returns nothing and sets `error`; what the
// handler throws passes on.
std::optional<ncdrill::Session> OpenSession(const ncdrill::Plugin& plugin,
                                            ncdrill::Handler& handler,
                                            const char* definitionFileName,
                                            const char* tableFileName, std::string& error);

}  // namespace ncdrill_replay

#endif
