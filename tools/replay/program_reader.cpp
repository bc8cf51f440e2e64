#include "program_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ncdrill_replay {

ProgramReader::ProgramReader(int fd, std::size_t initialBuffer, std::size_t maxLine)
    : fd_(fd), maxLine_(maxLine), buffer_(std::max<std::size_t>(initialBuffer, 2)) {}

std::string_view ProgramReader::Take(std::size_t length, std::size_t skip) noexcept {
  std::string_view line(buffer_.data() + begin_, length);
  begin_ += length + skip;
  scanned_ = 0;
  ++lineNumber_;
  return line;
}

ProgramReader::Status ProgramReader::Next(std::string_view& line) {
  for (;;) {
    const char* start = buffer_.data() + begin_;
    const std::size_t available = end_ - begin_;
    const void* feed = std::memchr(start + scanned_, '\n', available - scanned_);
    if (feed != nullptr) {
      std::size_t length = static_cast<std::size_t>(static_cast<const char*>(feed) - start);
      const bool crlf = length > 0 && start[length - 1] == '\r';
      line = Take(crlf ? length - 1 : length, crlf ? 2 : 1);
      if (line.size() > maxLine_) return Status::kTooLong;
      return Status::kLine;
    }
    scanned_ = available;
    if (atEnd_) {
      if (available == 0) return Status::kEnd;
      line = Take(available, 0);
      return line.size() > maxLine_ ? Status::kTooLong : Status::kLine;
    }
    if (!Refill()) {
      if (error_ != 0) return Status::kError;
      if (tooLong_) return Status::kTooLong;
      atEnd_ = true;
    }
  }
}

bool ProgramReader::Refill() {
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (end_ == buffer_.size()) {
    // A line feed may still follow a line of exactly maxLine_ bytes and its
    // carriage return.
    if (end_ > maxLine_ + 1) {
      tooLong_ = true;
      ++lineNumber_;
      return false;
    }
    buffer_.resize(std::min(buffer_.size() * 2, maxLine_ + 2));
  }
  for (;;) {
    const ssize_t got = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
    if (got > 0) {
      end_ += static_cast<std::size_t>(got);
      return true;
    }
    if (got == 0) return false;
    if (errno == EINTR) continue;
    error_ = errno;
    return false;
  }
}

}  // namespace ncdrill_replay
