// Allocations the plug-in makes while interpreting blocks, counted through
// the test program's own operator new.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "alloc_hooks.h"
#include "plugin_host.h"

namespace ncdrill_test {
namespace {

TEST(Allocations, CountingSeesThePlugInsAllocations) {
  TempFolder folder;
  folder.Write("VONDRIX_4.txt", "1 G81\n2\n");
  LoadedPlugin plugin(folder.path(), "", CountedPluginFile());
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

// A host whose callbacks only count, so that it allocates nothing itself.
struct CountingHost {
  HostCallbacks table{};
  int drillBlocks = 0;
  CountingHost() {
    table.context = this;
    table.putRecordChain = [](void*, const ChainRecord*) {};
    table.putLabelledList = [](void*, const char*, const SelectionList*) {};
    table.endBlock = [](void* context) { ++static_cast<CountingHost*>(context)->drillBlocks; };
  }
};

TEST(Allocations, NoneForBlocksWithoutRequestsAndAtMostOneNodePerSelection) {
  TempFolder folder;
  folder.Write("VONDRIX_4.txt", "1\n2\n5 G52\n");
  LoadedPlugin plugin(folder.path(), "", CountedPluginFile());
  CountingHost host;
  std::unique_ptr<Interpreter> owner(plugin.Create(&host.table));
  Interpreter& interpreter = *owner;
  for (const std::string& b : {std::string("N1 G21"), std::string("X1 Y2"), std::string("G52 G20"),
                               std::string("(comment T5)"), BlockOf256()}) {
    EXPECT_EQ(AllocationsFor(interpreter, b), 0u) << b;
  }
  EXPECT_LE(AllocationsFor(interpreter, "T12"), 1u);
  EXPECT_LE(AllocationsFor(interpreter, "T3 M9"), 2u);
}

TEST(Allocations, NoneInSteadyStateWithDrillBlocks) {
  TempFolder folder;
  folder.Write("VONDRIX_4.txt", "301\n302\n303\n12\n81 G81\n83 G83\n");
  LoadedPlugin plugin(folder.path(), "", CountedPluginFile());
  CountingHost host;
  std::unique_ptr<Interpreter> interpreter(plugin.Create(&host.table));
  const std::string program[] = {
      "N1 G21", "T7 M9",        "G81 X10 Y20 Z-5 R2 F100", "X30", "T12 M6",     "G83 Z-9 Q2",
      "G80",    "(T5 comment)", "T16383 M9 G20",           "G81", BlockOf256(), "T1 T2 G52"};
  for (const std::string& b : program) AllocationsFor(*interpreter, b);  // warm up
  std::size_t total = 0;
  for (int round = 0; round < 5; ++round) {
    for (const std::string& b : program) total += AllocationsFor(*interpreter, b);
  }
  EXPECT_EQ(total, 0u);
  EXPECT_EQ(host.drillBlocks, 6 * 3);
}

}  // namespace
}  // namespace ncdrill_test
