#include "plugin.h"

#include <unistd.h>

#include <filesystem>
#include <new>
#include <system_error>

#ifndef NCDRILL_INSTALLED_PLUGIN
#define NCDRILL_INSTALLED_PLUGIN "../lib/ncdrill/ncdrill.so"
#endif

namespace ncdrill_replay {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPluginFileName = "ncdrill.so";

// The folder of this executable, symbolic links resolved; empty if the
// system cannot tell.
fs::path ExecutableFolder() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return self.parent_path();
}

bool Exists(const fs::path& path) { return ::access(path.c_str(), F_OK) == 0; }

}  // namespace

std::string DefaultPluginPath() {
  const fs::path folder = ExecutableFolder();
  if (folder.empty()) return kPluginFileName;
  const fs::path beside = folder / kPluginFileName;
  const fs::path installed = (folder / NCDRILL_INSTALLED_PLUGIN).lexically_normal();
  if (!Exists(beside) && Exists(installed)) return installed.string();
  return beside.string();
}

std::string AsLoadablePath(const std::string& path) {
  return path.find('/') == std::string::npos ? "./" + path : path;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

std::optional<ncdrill::Plugin> LoadPlugin(const std::string& path, std::string& error) {
  try {
    return ncdrill::Plugin(path);
  } catch (const ncdrill::LoadError& e) {
    error = e.what();
    return std::nullopt;
  }
}

std::optional<ncdrill::Session> OpenSession(const ncdrill::Plugin& plugin,
                                            ncdrill::Handler& handler,
                                            const char* definitionFileName,
                                            const char* tableFileName, std::string& error) {
  try {
    return plugin.Open(handler, definitionFileName, tableFileName);
  } catch (const std::bad_alloc&) {
    error = "the plug-in's GetInterpreter returned no interpreter (out of memory)";
    return std::nullopt;
  }
}

}  // namespace ncdrill_replay
