// Loads ncdrill.so the way a host application does: dlopen, then
// GetInterpreter by name. Nothing of the plug-in is linked into the tool.
#ifndef NCDRILL_TOOLS_REPLAY_PLUGIN_H
#define NCDRILL_TOOLS_REPLAY_PLUGIN_H

#include <string>

#include "ncdrill/ncdrill.h"

namespace ncdrill_replay {

// Where the tool looks for the plug-in when --plugin is not given, relative
// to the folder of its own executable: first beside it (the build folder),
// then NCDRILL_INSTALLED_PLUGIN (the installed layout, e.g.
// ../lib/ncdrill/ncdrill.so). Returns the first of these that exists, or
// the first one when neither does.
std::string DefaultPluginPath();

// The path as dlopen must get it: a name without a '/' would be searched
// for in the library path, so it gets a leading "./".
std::string AsLoadablePath(const std::string& path);

// The folder of a file path, ending with '/': "./" for a bare name.
std::string FolderOf(const std::string& path);

// An open plug-in library. Closes it when destroyed: destroy every
// interpreter first.
class Plugin {
 public:
  Plugin() = default;
  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  // Opens the library at `path` and finds GetInterpreter. On failure,
  // returns false and sets `error` to a one-line message naming the file
  // and, where the loader gave one, the loader's own message.
  bool Open(const std::string& path, std::string& error);

  GetInterpreterFn getInterpreter() const noexcept { return getInterpreter_; }

 private:
  void* handle_ = nullptr;
  GetInterpreterFn getInterpreter_ = nullptr;
};

}  // namespace ncdrill_replay

#endif
