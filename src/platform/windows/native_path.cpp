#include "platform/native_path.h"

#include <windows.h>

#include <climits>
#include <new>

namespace ncdrill::platform {

// The host's texts are in the process's ANSI code page, as the system's own
// 8-bit functions take them.
NativePath NativePathFrom8Bit(std::string_view text) {
  if (text.empty()) return {};
  if (text.size() > static_cast<std::size_t>(INT_MAX)) throw std::bad_alloc();
  const int size = static_cast<int>(text.size());
  const int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  if (wide <= 0) return {};
  NativePath path(static_cast<std::size_t>(wide), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, path.data(), wide);
  return path;
}

}  // namespace ncdrill::platform
