#include "platform/input_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace ncdrill::platform {

InputFile::InputFile(const NativePath& path) {
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) handle_ = fd;
}

InputFile::~InputFile() {
  if (IsOpen()) ::close(static_cast<int>(handle_));
}

std::ptrdiff_t InputFile::Read(char* buffer, std::size_t size) noexcept {
  if (!IsOpen()) return -1;
  for (;;) {
    const ssize_t got = ::read(static_cast<int>(handle_), buffer, size);
    if (got >= 0) return got;
    if (errno != EINTR) return -1;
  }
}

}  // namespace ncdrill::platform
