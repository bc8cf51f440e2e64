#include "plugin.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstring>
#include <filesystem>
#include <system_error>

#ifndef NCDRILL_INSTALLED_PLUGIN
#define NCDRILL_INSTALLED_PLUGIN "../lib/ncdrill/ncdrill.so"
#endif

namespace ncdrill_replay {
namespace {

namespace fs = std::filesystem;

#if defined(_WIN32)
constexpr const char* kPluginFileName = "ncdrill.dll";
constexpr const char* kSeparators = "\\/";

std::wstring Wide(const std::string& text) {
  const int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), size);
  wide.resize(static_cast<std::size_t>(size - 1));
  return wide;
}

// The folder of this executable; empty if the system cannot tell.
fs::path ExecutableFolder() {
  std::wstring self(MAX_PATH, L'\0');
  for (;;) {
    const DWORD got = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
    if (got == 0) return {};
    if (got < self.size()) {
      self.resize(got);
      return fs::path(self).parent_path();
    }
    self.resize(self.size() * 2);
  }
}
#else
constexpr const char* kPluginFileName = "ncdrill.so";
constexpr const char* kSeparators = "/";

// The folder of this executable, symbolic links resolved; empty if the
// system cannot tell.
fs::path ExecutableFolder() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return self.parent_path();
}
#endif

bool Exists(const fs::path& path) {
  std::error_code error;
  return fs::exists(path, error);
}

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
  const std::string here = std::string(".") + kSeparators[0];
  return path.find_first_of(kSeparators) == std::string::npos ? here + path : path;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of(kSeparators);
  return slash == std::string::npos ? std::string(".") + kSeparators[0] : path.substr(0, slash + 1);
}

#if defined(_WIN32)
Plugin::~Plugin() {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}

bool Plugin::Open(const std::string& path, std::string& error) {
  handle_ = LoadLibraryW(Wide(AsLoadablePath(path)).c_str());
  if (handle_ == nullptr) {
    error = "cannot load the plug-in: " + path + " (Windows error " +
            std::to_string(GetLastError()) + ")";
    return false;
  }
  void* symbol =
      reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), "GetInterpreter"));
#else
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
#endif
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
