// Out of memory at every single allocation the plug-in makes: while
// GetInterpreter builds an interpreter, and while InterpretBlock takes
// requests with and without drill blocks. Nothing may crash, throw across the
// boundary or leak, and whatever survives must keep working.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "alloc_hooks.h"
#include "plugin_host.h"

namespace ncdrill_test {
namespace {

namespace fs = std::filesystem;

// A host that never allocates in its callbacks, so that an armed failure can
// only hit the plug-in. It keeps a copy of every drill block in fixed storage
// and checks the list's shape as it goes.
struct QuietHost {
  static constexpr std::size_t kMaxDrills = 8;
  static constexpr std::size_t kMaxItems = 512;
  struct Drill {
    std::array<std::int32_t, kMaxItems> numbers{};
    std::array<float, kMaxItems> values{};
    std::size_t records = 0;  // terminal record included
    std::array<Selection, kMaxItems> selections{};
    std::size_t count = 0;
  };

  HostCallbacks table{};
  int definitionPaths = 0;
  std::array<char, 64> calls{};  // 'C' chain, 'L' list, 'E' end, in call order
  std::size_t callCount = 0;
  std::array<Drill, kMaxDrills> drills{};
  std::size_t drillCount = 0;
  bool malformed = false;

  QuietHost() {
    table.context = this;
    table.putDefinitionPath = [](void* c, const char*) { ++Self(c).definitionPaths; };
    table.putRecordChain = [](void* c, const ChainRecord* first) {
      QuietHost& h = Self(c);
      h.Note('C');
      if (h.drillCount == kMaxDrills) return void(h.malformed = true);
      Drill& d = h.drills[h.drillCount];
      for (const ChainRecord* r = first; r != nullptr; r = r->next) {
        if (d.records == kMaxItems) return void(h.malformed = true);
        d.numbers[d.records] = r->number;
        d.values[d.records++] = r->value;
      }
    };
    table.putLabelledList = [](void* c, const char* label, const SelectionList* list) {
      QuietHost& h = Self(c);
      h.Note('L');
      if (h.drillCount == kMaxDrills || std::strcmp(label, "Drill block") != 0) {
        return void(h.malformed = true);
      }
      Drill& d = h.drills[h.drillCount++];
      const SelectionNode* previous = list->sentinel;
      for (const SelectionNode* n = list->sentinel->next; n != list->sentinel; n = n->next) {
        if (d.count == kMaxItems || n->prev != previous) return void(h.malformed = true);
        d.selections[d.count++] = n->selection;
        previous = n;
      }
      if (list->sentinel->prev != previous || list->count != d.count) h.malformed = true;
    };
    table.endBlock = [](void* c) { Self(c).Note('E'); };
  }
  static QuietHost& Self(void* context) { return *static_cast<QuietHost*>(context); }
  void Note(char kind) {
    if (callCount == calls.size()) return void(malformed = true);
    calls[callCount++] = kind;
  }
  std::string Calls() const { return std::string(calls.data(), callCount); }
};

bool SameSelections(const QuietHost::Drill& a, const QuietHost::Drill& b) {
  if (a.count != b.count) return false;
  for (std::size_t i = 0; i < a.count; ++i) {
    if (!(a.selections[i] == b.selections[i])) return false;
  }
  return true;
}

// True when `got` is `want` with some Selections missing, order kept.
bool IsSubsequence(const QuietHost::Drill& got, const QuietHost::Drill& want) {
  std::size_t j = 0;
  for (std::size_t i = 0; i < got.count; ++i) {
    while (j < want.count && !(want.selections[j] == got.selections[i])) ++j;
    if (j == want.count) return false;
    ++j;
  }
  return true;
}

struct Run {
  std::vector<bool> results;  // each block's result
  std::size_t allocations = 0;
  bool failed = false;  // the armed allocation failed
};

// Feeds `blocks`, with the `failAt`-th allocation among them failing (0:
// none). Allocates nothing of its own between the blocks.
Run Feed(Interpreter& interpreter, const std::vector<std::string>& blocks, std::size_t failAt = 0) {
  Run run;
  run.results.assign(blocks.size(), false);
  const std::size_t before = AllocationCount();
  FailAllocation(failAt);
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    try {
      run.results[i] =
          interpreter.InterpretBlock(blocks[i].data(), static_cast<std::int32_t>(blocks[i].size()));
    } catch (...) {
      ADD_FAILURE() << "an exception crossed InterpretBlock at block " << i;
    }
  }
  run.failed = AllocationFailed();
  FailAllocation(0);
  run.allocations = AllocationCount() - before;
  return run;
}

const char* const kTable =
    "# tools of a small drill head\n"
    "1 A\n2\n5 G81\n12 A-NAME-LONGER-THAN-ANY-SHORT-STRING\n301\n302\n303\n314 G83\n";

const std::vector<std::string> kCheckBlocks = {"T3 M9", "T12", "G20 G81", "T5 G21", "G83 X1"};

void ExpectWorksLike(Interpreter& interpreter, QuietHost& host, const QuietHost& reference) {
  QuietHost fresh;
  interpreter.host = &fresh.table;
  Feed(interpreter, kCheckBlocks);
  interpreter.host = &host.table;
  EXPECT_FALSE(fresh.malformed);
  ASSERT_EQ(fresh.Calls(), reference.Calls());
  for (std::size_t d = 0; d < reference.drillCount; ++d) {
    EXPECT_EQ(fresh.drills[d].numbers, reference.drills[d].numbers);
    EXPECT_EQ(fresh.drills[d].values, reference.drills[d].values);
    EXPECT_TRUE(SameSelections(fresh.drills[d], reference.drills[d]));
  }
}

class AllocationFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_.Write("VONDRIX_4.txt", kTable);
    plugin_ = std::make_unique<LoadedPlugin>(folder_.path(), "", CountedPluginFile());
    QuietHost host;
    std::unique_ptr<Interpreter> interpreter(plugin_->Create(&host.table));
    ASSERT_NE(interpreter, nullptr);
    Feed(*interpreter, kCheckBlocks);
    reference_ = host;
  }

  TempFolder folder_;
  std::unique_ptr<LoadedPlugin> plugin_;
  QuietHost reference_;
};

// Makes the k-th allocation of GetInterpreter fail for every k, for a plug-in
// opened by its full path and by a relative one (which asks the loader for
// the folder into a buffer of its own).
void ExpectCreationFailsCleanly(const LoadedPlugin& plugin, const QuietHost& reference) {
  std::size_t k = 1;
  for (;; ++k) {
    QuietHost host;
    const std::size_t live = LiveAllocations();
    Interpreter* interpreter = nullptr;
    FailAllocation(k);
    try {
      interpreter = plugin.Create(&host.table);
    } catch (...) {
      ADD_FAILURE() << "an exception crossed GetInterpreter at allocation " << k;
    }
    const bool failed = AllocationFailed();
    FailAllocation(0);
    if (!failed) {
      ASSERT_NE(interpreter, nullptr);
      delete interpreter;
      break;
    }
    // The object itself is the first allocation: without it, no callback.
    if (k == 1) {
      EXPECT_EQ(host.definitionPaths, 0);
    }
    EXPECT_LE(host.definitionPaths, 1);
    if (interpreter != nullptr) {
      // Only a complete interpreter may be handed out.
      ExpectWorksLike(*interpreter, host, reference);
      delete interpreter;
    }
    EXPECT_EQ(LiveAllocations(), live) << "leak after failing allocation " << k;
  }
  EXPECT_GT(k, 4u) << "construction should allocate the object, folder, path and table";
}

TEST_F(AllocationFailure, GetInterpreterAtEveryAllocation) {
  ExpectCreationFailsCleanly(*plugin_, reference_);
}

TEST_F(AllocationFailure, GetInterpreterOfARelativelyLoadedPlugin) {
  const fs::path before = fs::current_path();
  fs::create_directories(folder_.path() + "copy");
  fs::current_path(folder_.path());
  std::unique_ptr<LoadedPlugin> relative;
  try {
    relative = std::make_unique<LoadedPlugin>(folder_.path() + AsFolder("copy"),
                                              AsFolder(".") + AsFolder("copy") + PluginFileName(),
                                              CountedPluginFile());
  } catch (...) {
    fs::current_path(before);
    throw;
  }
  fs::copy_file(folder_.path() + "VONDRIX_4.txt",
                folder_.path() + AsFolder("copy") + "VONDRIX_4.txt");
  ExpectCreationFailsCleanly(*relative, reference_);
  fs::current_path(before);
}

// Runs `program` on a fresh interpreter with its k-th allocation failing, for
// every k the program makes. The program must end with a drill block.
void ExpectBlocksSurviveEveryFailure(const LoadedPlugin& plugin, const QuietHost& reference,
                                     const std::vector<std::string>& program) {
  // The undisturbed run.
  QuietHost want;
  Run undisturbed;
  {
    std::unique_ptr<Interpreter> interpreter(plugin.Create(&want.table));
    undisturbed = Feed(*interpreter, program);
  }
  ASSERT_GT(undisturbed.allocations, 0u) << "the program should need new list nodes";
  ASSERT_GE(want.drillCount, 1u);

  for (std::size_t k = 1; k <= undisturbed.allocations; ++k) {
    SCOPED_TRACE("failing allocation " + std::to_string(k));
    const std::size_t live = LiveAllocations();
    {
      QuietHost got;
      std::unique_ptr<Interpreter> interpreter(plugin.Create(&got.table));
      const Run run = Feed(*interpreter, program, k);
      EXPECT_TRUE(run.failed);
      // Results never depend on memory; the drill blocks still come, in
      // order, each with a well-formed list that may only lack Selections.
      EXPECT_EQ(run.results, undisturbed.results);
      EXPECT_FALSE(got.malformed);
      ASSERT_EQ(got.Calls(), want.Calls());
      for (std::size_t d = 0; d < want.drillCount; ++d) {
        const QuietHost::Drill& g = got.drills[d];
        const QuietHost::Drill& w = want.drills[d];
        EXPECT_TRUE(IsSubsequence(g, w)) << "drill block " << d;
        EXPECT_EQ(g.numbers, w.numbers);
        for (std::size_t r = 0; r + 1 < w.records; ++r) {
          // A lost Selection can only leave a record unmarked.
          if (g.values[r] != w.values[r]) {
            EXPECT_EQ(w.values[r], 0.0f) << "record " << r;
          }
        }
      }
      // The survivor works as if nothing had happened.
      ExpectWorksLike(*interpreter, got, reference);
    }
    EXPECT_EQ(LiveAllocations(), live);
  }
}

TEST_F(AllocationFailure, InterpretBlockWithDrillBlocks) {
  // The first 64 nodes are taken with the interpreter; the piles here need
  // more, so that blocks and drill blocks meet failing allocations.
  std::vector<std::string> program = {"T3 M9", "G81 T12"};
  for (int i = 0; i < 6; ++i) program.emplace_back("T16383 M9");
  for (const char* block : {"T1", "X1 G83", "T5", "T2 M9 G20", "G81"}) program.emplace_back(block);
  for (int i = 0; i < 25; ++i) program.emplace_back("T16383 M9");
  program.emplace_back("G83");
  ExpectBlocksSurviveEveryFailure(*plugin_, reference_, program);
}

TEST_F(AllocationFailure, InterpretBlockPilingUpRequestsWithoutDrillBlocks) {
  std::vector<std::string> program;
  program.reserve(203);
  for (int t = 0; t < 200; ++t) {
    program.push_back("N" + std::to_string(t) + " T" + std::to_string(t));
  }
  program.emplace_back("T16383 M9 G52");
  program.emplace_back("X0 Y0");
  program.emplace_back("G81");  // one drill block at the very end collects the pile
  ExpectBlocksSurviveEveryFailure(*plugin_, reference_, program);
}

}  // namespace
}  // namespace ncdrill_test
