#include "platform/input_file.h"

#include <windows.h>

#include <algorithm>

namespace ncdrill::platform {
namespace {

// Windows opens a path of MAX_PATH characters or more only in its "\\?\"
// form, which must be absolute and normalised: the folder comes from the
// system, but a table name may hold "..", "." or "/".
bool NeedsLongForm(const NativePath& path) {
  return path.size() >= MAX_PATH && path.rfind(L"\\\\?\\", 0) != 0;
}

NativePath LongForm(const NativePath& path) {
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  NativePath full(needed, L'\0');
  const DWORD got = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (got == 0 || got >= needed) return path;
  full.resize(got);
  if (full.rfind(L"\\\\", 0) == 0) {
    // \\server\share\... becomes \\?\UNC\server\share\...
    return full[2] == L'.' || full[2] == L'?' ? full : L"\\\\?\\UNC\\" + full.substr(2);
  }
  return L"\\\\?\\" + full;
}

// The handle is kept in the integer field that holds a descriptor on POSIX.
HANDLE Handle(std::intptr_t value) {
  return reinterpret_cast<HANDLE>(value);  // NOLINT(performance-no-int-to-ptr)
}

}  // namespace

InputFile::InputFile(const NativePath& path) {
  const HANDLE file =
      CreateFileW(NeedsLongForm(path) ? LongForm(path).c_str() : path.c_str(), GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file != INVALID_HANDLE_VALUE) handle_ = reinterpret_cast<std::intptr_t>(file);
}

InputFile::~InputFile() {
  if (IsOpen()) CloseHandle(Handle(handle_));
}

std::ptrdiff_t InputFile::Read(char* buffer, std::size_t size) noexcept {
  if (!IsOpen()) return -1;
  const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
  DWORD got = 0;
  if (ReadFile(Handle(handle_), buffer, want, &got, nullptr) == 0) return -1;
  return static_cast<std::ptrdiff_t>(got);
}

}  // namespace ncdrill::platform
