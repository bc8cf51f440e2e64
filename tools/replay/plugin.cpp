#include "plugin.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
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

Plugin::~Plugin() {
  if (handle_ != nullptr) ::dlclose(handle_);
}

bool Plugin::Open(const std::string& path, std::string& error) {
  handle_ = ::dlopen(AsLoadablePath(path).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = ::dlerror();
    error = "cannot load the plug-in: " + std::string(why != nullptr ? why : path.c_str());
    return false;
  }
  void* symbol = ::dlsym(handle_, "GetInterpreter");
  if (symbol == nullptr) {
    error = path + " is not an ncdrill plug-in: it has no GetInterpreter";
    return false;
  }
  // POSIX guarantees that a data pointer from dlsym converts to a function
  // pointer; memcpy says so without a cast the compiler warns about.
  static_assert(sizeof symbol == sizeof getInterpreter_, "function and data pointers differ");
  std::memcpy(&getInterpreter_, &symbol, sizeof symbol);
  return true;
}

}  // namespace ncdrill_replay
