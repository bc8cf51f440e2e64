// Paths as the operating system opens files by them. The host speaks 8-bit
// text; on POSIX systems that is already the system's own spelling, while
// Windows opens files by UTF-16 paths, so that a folder whose name the
// process's 8-bit code page cannot spell is still reachable.
#ifndef NCDRILL_PLATFORM_NATIVE_PATH_H
#define NCDRILL_PLATFORM_NATIVE_PATH_H

#include <string>
#include <string_view>

namespace ncdrill::platform {

#if defined(_WIN32)
using NativeChar = wchar_t;
#else
using NativeChar = char;
#endif
using NativePath = std::basic_string<NativeChar>;

// An 8-bit text from the host (a file name) in the system's spelling: the
// same bytes on POSIX, converted from the process's ANSI code page on
// Windows. Throws std::bad_alloc when memory runs out.
NativePath NativePathFrom8Bit(std::string_view text);

}  // namespace ncdrill::platform

#endif
