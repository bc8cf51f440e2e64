#include "platform/module_folder.h"

#include <dlfcn.h>
#include <link.h>

#include <climits>
#include <memory>
#include <string_view>

namespace ncdrill::platform {
namespace {

// An address inside this library, to ask the loader which file it came from.
const char kAnchor = 0;

std::string FolderOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  return std::string(path.substr(0, slash + 1));
}

// The absolute folder the loader recorded when it loaded a library named by
// a relative path: the working directory of that moment joined to the name's
// folder.
std::string OriginFolder(struct link_map* map, std::string_view loadedName) {
  // The origin is at most the working directory (PATH_MAX at most, the
  // kernel's limit for getcwd) joined to the loaded name.
  const std::size_t capacity = PATH_MAX + loadedName.size() + 2;
  std::unique_ptr<char[]> origin(new char[capacity]());
  if (dlinfo(map, RTLD_DI_ORIGIN, origin.get()) != 0 || origin[0] != '/') {
    return {};
  }
  std::string folder(origin.get());
  if (folder.back() != '/') folder += '/';
  return folder;
}

// The full path under which the host loaded this library, symbolic links
// not resolved; a library loaded by a relative path gives the folder it
// named at load time, whatever the working directory is now.
std::string LoadedFolder() {
  Dl_info info{};
  struct link_map* map = nullptr;
  if (dladdr1(&kAnchor, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 ||
      info.dli_fname == nullptr) {
    return {};
  }
  const std::string_view loadedName(info.dli_fname);
  if (!loadedName.empty() && loadedName.front() == '/') return FolderOf(loadedName);
  if (map == nullptr) return {};
  return OriginFolder(map, loadedName);
}

}  // namespace

ModuleFolder FindModuleFolder() {
  ModuleFolder folder;
  folder.text = LoadedFolder();
  folder.native = folder.text;
  return folder;
}

}  // namespace ncdrill::platform
