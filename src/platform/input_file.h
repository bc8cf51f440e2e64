// Reading the bytes of a file: all the table reader needs from the
// operating system.
#ifndef NCDRILL_PLATFORM_INPUT_FILE_H
#define NCDRILL_PLATFORM_INPUT_FILE_H

#include <cstddef>
#include <cstdint>

#include "platform/native_path.h"

namespace ncdrill::platform {

// Where a reader's bytes come from. Readers take any source, so that tests
// can make a read fail part-way through a file.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to `size` bytes into `buffer`. Returns how many it read, 0 at
  // the end of the input, or -1 when the read failed.
  virtual std::ptrdiff_t Read(char* buffer, std::size_t size) noexcept = 0;

 protected:
  ByteSource() = default;
  ByteSource(const ByteSource&) = default;
  ByteSource& operator=(const ByteSource&) = default;
};

// A file opened for reading, in binary: the reader itself deals with line
// ends and the end-of-text byte, the same way on every system. A file that
// could not be opened reads as a failed read.
class InputFile final : public ByteSource {
 public:
  // Throws std::bad_alloc when memory runs out (Windows spells a long path
  // anew), never for a file that cannot be opened.
  explicit InputFile(const NativePath& path);
  ~InputFile() override;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool IsOpen() const noexcept { return handle_ != kClosed; }
  std::ptrdiff_t Read(char* buffer, std::size_t size) noexcept override;

 private:
  // A file descriptor or a Windows file handle; neither system uses -1 for
  // an open file.
  static constexpr std::intptr_t kClosed = -1;
  std::intptr_t handle_ = kClosed;
};

}  // namespace ncdrill::platform

#endif
