#include "plugin.h"

#if defined(_WIN32)
#include <windows.h>
#endif

#include <filesystem>
#include <new>
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

std::optional<ncdrill::Plugin> LoadPlugin(const std::string& path, std::string& error) {
  try {
#if defined(_WIN32)
    // Command lines and the definition path speak the ANSI code page.
    return ncdrill::Plugin(fs::path(Wide(path)));
#else
    return ncdrill::Plugin(path);
#endif
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
