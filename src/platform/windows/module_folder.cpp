#include "platform/module_folder.h"

#include <windows.h>

#include <climits>
#include <new>

namespace ncdrill::platform {
namespace {

// An address inside this module, to ask the loader which file it came from.
const char kAnchor = 0;

HMODULE ThisModule() {
  HMODULE module = nullptr;
  if (GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&kAnchor), &module) == 0) {
    return nullptr;
  }
  return module;
}

// The module's full path, in a buffer grown until the path fits: the system
// cuts a path that does not fit, and paths may be longer than MAX_PATH.
NativePath ModulePath(HMODULE module) {
  NativePath path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD got = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (got == 0) return {};
    if (got < path.size()) {
      path.resize(got);
      return path;
    }
    if (path.size() > static_cast<std::size_t>(INT_MAX) / 2) return {};
    path.resize(path.size() * 2);
  }
}

NativePath FolderOf(const NativePath& path) {
  const std::size_t separator = path.rfind(L'\\');
  if (separator == NativePath::npos) return {};
  return path.substr(0, separator + 1);
}

// The folder as the system's 8-bit functions spell it (GetModuleFileNameA):
// the ANSI code page, best-fit characters where it has them, '?' where it
// has none.
std::string AnsiText(const NativePath& text) {
  if (text.empty()) return {};
  if (text.size() > static_cast<std::size_t>(INT_MAX)) throw std::bad_alloc();
  const int size = static_cast<int>(text.size());
  const int bytes = WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string ansi(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), size, ansi.data(), bytes, nullptr, nullptr);
  return ansi;
}

}  // namespace

ModuleFolder FindModuleFolder() {
  ModuleFolder folder;
  const HMODULE module = ThisModule();
  if (module == nullptr) return folder;
  folder.native = FolderOf(ModulePath(module));
  folder.text = AnsiText(folder.native);
  return folder;
}

}  // namespace ncdrill::platform
