// Allocations the plug-in makes while interpreting blocks, counted through
// the test program's own operator new.
#include <gtest/gtest.h>

#include <string>

#include "alloc_hooks.h"
#include "plugin_host.h"

namespace ncdrill_test {
namespace {

TEST(Allocations, CountingSeesThePlugInsAllocations) {
  TempFolder folder;
  folder.Write("VONDRIX_4.txt", "1 G81\n2\n");
  LoadedPlugin plugin(folder.path());
  HostCallbacks host{};
  const std::size_t before = AllocationCount();
  Interpreter* interpreter = plugin.Create(&host);
  EXPECT_GT(AllocationCount(), before);
  delete interpreter;
}

std::string BlockOf256() {
  std::string block = "N10 G1 X10 Y20 (";
  block += std::string(256 - block.size() - 1, 'c') + ")";
  return block;
}

std::size_t AllocationsFor(Interpreter& interpreter, const std::string& block) {
  const std::size_t before = AllocationCount();
  interpreter.InterpretBlock(block.data(), static_cast<std::int32_t>(block.size()));
  return AllocationCount() - before;
}

TEST(Allocations, NoneForBlocksWithoutRequestsAndAtMostOneNodePerSelection) {
  Session session("1\n2\n5 G52\n");
  Interpreter& interpreter = session.interpreter();
  for (const std::string& b : {std::string("N1 G21"), std::string("X1 Y2"), std::string("G52 G20"),
                               std::string("(comment T5)"), BlockOf256()}) {
    EXPECT_EQ(AllocationsFor(interpreter, b), 0u) << b;
  }
  EXPECT_LE(AllocationsFor(interpreter, "T12"), 1u);
  EXPECT_LE(AllocationsFor(interpreter, "T3 M9"), 2u);
}

}  // namespace
}  // namespace ncdrill_test
