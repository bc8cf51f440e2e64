// Large inputs: a table of 100,000 lines and blocks of 1 MiB. Everything
// must stay correct, and memory must not grow with the number of blocks.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "alloc_hooks.h"
#include "plugin_host.h"

namespace ncdrill_test {
namespace {

constexpr int kTableLines = 100000;
constexpr std::size_t kMiB = 1 << 20;

// Checks every drill block on the spot without allocating: the chain's
// length, order and values, and the list's count.
struct WalkingHost {
  HostCallbacks table{};
  int drills = 0;
  std::size_t records = 0;      // table records in the latest chain
  std::size_t zeros = 0;        // of which 0.0
  std::int32_t terminal = 0;    // the latest terminal number
  std::uint32_t listCount = 0;  // Selections handed over by the latest drill block
  bool inOrder = true;          // numbers ascended 1, 2, 3, ... in every chain so far
  float away = 0.0f;            // the value every unmarked record had

  WalkingHost() {
    table.context = this;
    table.putRecordChain = [](void* c, const ChainRecord* first) {
      WalkingHost& h = *static_cast<WalkingHost*>(c);
      h.records = 0;
      h.zeros = 0;
      const ChainRecord* r = first;
      for (; r->next != nullptr; r = r->next) {
        ++h.records;
        h.inOrder = h.inOrder && r->number == static_cast<std::int32_t>(h.records);
        if (r->value == 0.0f) {
          ++h.zeros;
        } else {
          h.away = r->value;
        }
      }
      h.terminal = r->number;
    };
    table.putLabelledList = [](void* c, const char*, const SelectionList* list) {
      static_cast<WalkingHost*>(c)->listCount = list->count;
    };
    table.endBlock = [](void* c) { ++static_cast<WalkingHost*>(c)->drills; };
  }
};

// Lines "1 N1", "2 N2", ...: numbers ascend, and each name is unique because
// a digit follows every shorter name inside a longer one.
std::string NumberedTable(int lines) {
  std::string table;
  for (int i = 1; i <= lines; ++i) table += std::to_string(i) + " N" + std::to_string(i) + "\n";
  return table;
}

bool Feed(Interpreter& interpreter, const std::string& block, std::size_t length) {
  return interpreter.InterpretBlock(block.data(), static_cast<std::int32_t>(length));
}

TEST(Size, TableOf100000Lines) {
  TempFolder folder;
  folder.Write("VONDRIX_4.txt", "# large table\n" + NumberedTable(kTableLines));
  LoadedPlugin plugin(folder.path(), "", CountedPluginFile());
  WalkingHost host;
  std::unique_ptr<Interpreter> interpreter(plugin.Create(&host.table));
  ASSERT_NE(interpreter, nullptr);

  // The last entry triggers: every name before it is looked at and passed over.
  EXPECT_TRUE(Feed(*interpreter, "T99999", 6));
  EXPECT_TRUE(Feed(*interpreter, "T7 M9", 5));  // 301, 302, 303
  const std::string last = "G1 N" + std::to_string(kTableLines) + " X5";
  EXPECT_FALSE(Feed(*interpreter, last, last.size()));
  EXPECT_EQ(host.drills, 1);
  EXPECT_EQ(host.records, static_cast<std::size_t>(kTableLines));
  EXPECT_TRUE(host.inOrder);
  EXPECT_EQ(host.terminal, -kTableLines);
  EXPECT_EQ(host.listCount, 4u);
  EXPECT_EQ(host.zeros, 4u);  // 99999, 301, 302, 303
  EXPECT_EQ(host.away, 127.0f);

  // A request above the table resolves to its largest number.
  EXPECT_TRUE(Feed(*interpreter, "G20 T123456789 N1", 17));
  EXPECT_EQ(host.drills, 2);
  EXPECT_EQ(host.terminal, -1);
  EXPECT_EQ(host.zeros, static_cast<std::size_t>(1));
  EXPECT_EQ(host.away, 5.0f);
}

TEST(Size, BlocksOf1MiBInConstantMemory) {
  TempFolder folder;
  folder.Write("VONDRIX_4.txt", "5 G81\n12\n301\n302\n");
  LoadedPlugin plugin(folder.path(), "", CountedPluginFile());
  WalkingHost host;
  std::unique_ptr<Interpreter> interpreter(plugin.Create(&host.table));
  ASSERT_NE(interpreter, nullptr);

  // A request at the start, a trigger at the very end.
  std::string requestAndTrigger = "T12 (" + std::string(kMiB, 'x');
  requestAndTrigger.resize(kMiB - 5, 'y');
  requestAndTrigger += ") G81";
  ASSERT_EQ(requestAndTrigger.size(), kMiB);
  // The same trigger beyond the length handed over: not seen.
  std::string shortLength = "T3 M9 " + std::string(kMiB, ' ') + "G81";
  // A NUL in the middle ends the block before the trigger.
  std::string nulInside = "T5 " + std::string(kMiB / 2, 'x') + std::string(1, '\0') + "G81";
  nulInside.resize(kMiB, 'z');

  auto round = [&] {
    EXPECT_TRUE(Feed(*interpreter, requestAndTrigger, requestAndTrigger.size()));
    EXPECT_EQ(host.zeros, 1u);
    EXPECT_EQ(host.listCount, 1u);
    EXPECT_TRUE(Feed(*interpreter, shortLength, kMiB));
    EXPECT_TRUE(Feed(*interpreter, nulInside, nulInside.size()));
    EXPECT_TRUE(Feed(*interpreter, requestAndTrigger, requestAndTrigger.size()));
    EXPECT_EQ(host.listCount, 4u);  // 301, 302, 5, 12
    EXPECT_EQ(host.zeros, 4u);
  };
  round();  // warm up: the list's nodes are made once and then reused
  const int drills = host.drills;
  const std::size_t live = LiveAllocations();
  const std::size_t allocations = AllocationCount();
  for (int i = 0; i < 16; ++i) round();
  EXPECT_EQ(host.drills, drills + 16 * 2);
  EXPECT_EQ(AllocationCount(), allocations) << "blocks must not allocate once warm";
  EXPECT_EQ(LiveAllocations(), live);
}

}  // namespace
}  // namespace ncdrill_test
