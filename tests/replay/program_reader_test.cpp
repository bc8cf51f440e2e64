// The replay tool's streaming reader, with buffers small enough that lines
// and line ends straddle reads.
#include "program_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "plugin_host.h"

namespace ncdrill_test {
namespace {

using ncdrill_replay::ProgramReader;
using Status = ProgramReader::Status;

struct Read {
  std::vector<std::string> lines;
  Status last;
  std::size_t lineNumber;
};

Read ReadAll(const std::string& bytes, std::size_t buffer, std::size_t maxLine = 1000000) {
  TempFolder folder;
  folder.Write("p.nc", bytes);
  const int fd = ::open((folder.path() + "p.nc").c_str(), O_RDONLY);
  ProgramReader reader(fd, buffer, maxLine);
  Read read;
  std::string_view line;
  while ((read.last = reader.Next(line)) == Status::kLine) read.lines.emplace_back(line);
  read.lineNumber = reader.lineNumber();
  ::close(fd);
  return read;
}

using Lines = std::vector<std::string>;

TEST(ProgramReader, SplitsAtLineFeedsAndDropsOnlyTheCarriageReturnBeforeOne) {
  const std::string program = "abc\r\nd\n\n\r\nx\ry\rlast\r";
  for (std::size_t buffer : {2u, 3u, 4u, 5u, 64u}) {
    SCOPED_TRACE(buffer);
    const Read read = ReadAll(program, buffer);
    EXPECT_EQ(read.lines, (Lines{"abc", "d", "", "", "x\ry\rlast\r"}));
    EXPECT_EQ(read.last, Status::kEnd);
    EXPECT_EQ(read.lineNumber, 5u);
  }
  EXPECT_EQ(ReadAll("", 4).lines, Lines{});
  EXPECT_EQ(ReadAll("\n", 4).lines, Lines{""});
}

TEST(ProgramReader, LongLinesGrowTheBufferUpToTheLimit) {
  const std::string wide(100000, 'X');
  EXPECT_EQ(ReadAll("a\n" + wide + "\nb", 16).lines, (Lines{"a", wide, "b"}));

  // A line of exactly the limit passes, with either line end or none.
  EXPECT_EQ(ReadAll("12345678\r\n12345678\n12345678", 2, 8).lines,
            (Lines{"12345678", "12345678", "12345678"}));
  for (const char* tooLong : {"ok\n123456789\nnext\n", "ok\n123456789\r\n", "ok\n123456789"}) {
    SCOPED_TRACE(tooLong);
    const Read read = ReadAll(tooLong, 2, 8);
    EXPECT_EQ(read.lines, Lines{"ok"});
    EXPECT_EQ(read.last, Status::kTooLong);
    EXPECT_EQ(read.lineNumber, 2u);
  }
}

TEST(ProgramReader, ReportsReadErrors) {
  TempFolder folder;
  const int fd = ::open(folder.path().c_str(), O_RDONLY | O_DIRECTORY);
  ProgramReader reader(fd);
  std::string_view line;
  EXPECT_EQ(reader.Next(line), Status::kError);
  EXPECT_EQ(reader.error(), EISDIR);
  ::close(fd);
}

}  // namespace
}  // namespace ncdrill_test
