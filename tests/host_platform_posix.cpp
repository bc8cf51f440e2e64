#include <dlfcn.h>
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

#include "host_platform.h"

namespace ncdrill_test {

const char* PluginFileName() { return "ncdrill.so"; }

char PathSeparator() { return '/'; }

std::string MakeScratchFolder(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern + "/";
}

Library::Library(const std::string& path) : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
  if (handle_ == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
}

Library::~Library() { dlclose(handle_); }

void* Library::Find(const char* name) const { return dlsym(handle_, name); }

}  // namespace ncdrill_test
