#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "host_platform.h"

namespace ncdrill_test {

const char* PluginFileName() { return "ncdrill.dll"; }

char PathSeparator() { return '\\'; }

std::string MakeScratchFolder(const std::string& prefix) {
  namespace fs = std::filesystem;
  static std::atomic<unsigned> counter{0};
  const fs::path temp = fs::temp_directory_path();
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string name = prefix + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(counter++) + "-" + std::to_string(GetTickCount());
    std::error_code error;
    if (fs::create_directory(temp / name, error)) return (temp / name).string() + "\\";
  }
  throw std::runtime_error("cannot make a scratch folder");
}

namespace {
PROCESS_MEMORY_COUNTERS MemoryCounters() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters;
}
}  // namespace

long ResidentKiB() { return static_cast<long>(MemoryCounters().WorkingSetSize / 1024); }

long PeakResidentKiB() { return static_cast<long>(MemoryCounters().PeakWorkingSetSize / 1024); }

Library::Library(const std::string& path)
    : handle_(LoadLibraryW(std::filesystem::path(path).wstring().c_str())) {
  if (handle_ == nullptr) {
    throw std::runtime_error("LoadLibrary " + path + ": error " + std::to_string(GetLastError()));
  }
}

Library::~Library() { FreeLibrary(static_cast<HMODULE>(handle_)); }

void* Library::Find(const char* name) const {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

// GetModuleHandleW takes no reference: the module stays as loaded as it was.
bool IsLoaded(const std::string& path) {
  return GetModuleHandleW(std::filesystem::path(path).wstring().c_str()) != nullptr;
}

void* FindInLoaded(const std::string& path, const char* name) {
  const HMODULE module = GetModuleHandleW(std::filesystem::path(path).wstring().c_str());
  return module != nullptr ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
}

}  // namespace ncdrill_test
