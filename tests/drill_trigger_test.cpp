// Drill blocks as a host receives them.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "plugin_host.h"

namespace ncdrill_test {
namespace {

using Chain = std::vector<std::pair<std::int32_t, float>>;
using List = std::vector<Selection>;

std::vector<Event::Kind> Kinds(const std::vector<Event>& events) {
  std::vector<Event::Kind> kinds;
  for (const Event& e : events) kinds.push_back(e.kind);
  return kinds;
}

// The events after the definition path.
std::vector<Event> BlockEvents(Session& s) {
  std::vector<Event> events(s.host().events().begin() + 1, s.host().events().end());
  return events;
}

// Chain and list of the latest drill block.
const Event& LastChain(Session& s) {
  const auto& events = s.host().events();
  for (auto it = events.rbegin(); it != events.rend(); ++it) {
    if (it->kind == Event::kRecordChain) return *it;
  }
  throw std::runtime_error("no drill block");
}
List LastList(Session& s) {
  const std::vector<Event> drills = s.host().Drills();
  if (drills.empty()) throw std::runtime_error("no drill block");
  return drills.back().selections;
}
std::size_t DrillCount(Session& s) { return s.host().Drills().size(); }

TEST(DrillBlock, RoadOfOneDrillBlock) {
  Session s("301\n302\n81 G81\n");
  EXPECT_TRUE(s.Block("T3 M9"));
  EXPECT_EQ(DrillCount(s), 0u);
  EXPECT_FALSE(s.Block("G81 Z-5"));
  const std::vector<Event> events = BlockEvents(s);
  ASSERT_EQ(Kinds(events), (std::vector<Event::Kind>{Event::kRecordChain, Event::kLabelledList,
                                                     Event::kEndBlock}));
  EXPECT_EQ(events[0].chain, (Chain{{301, 0.0f}, {302, 0.0f}, {81, 127.0f}, {-81, 0.0f}}));
  EXPECT_EQ(events[1].text, "Drill block");
  EXPECT_EQ(events[1].selections, (List{{301, 301}, {302, 302}}));
  for (const Event& e : events) EXPECT_EQ(e.context, &s.host());
  // The Selections are gone: the next drill block hands over an empty list.
  s.Block("G81");
  EXPECT_EQ(LastList(s), List{});
  EXPECT_EQ(LastChain(s).chain, (Chain{{301, 127.0f}, {302, 127.0f}, {81, 127.0f}, {-81, 0.0f}}));
}

TEST(DrillBlock, RecordsAndListKeepTheirAddresses) {
  Session s("1 A\n2 B\n");
  s.Block("A");
  s.Block("T2");
  s.Block("B");
  const std::vector<Event> chains = [&] {
    std::vector<Event> out;
    for (const Event& e : s.host().events()) {
      if (e.kind == Event::kRecordChain) out.push_back(e);
    }
    return out;
  }();
  ASSERT_EQ(chains.size(), 2u);
  EXPECT_EQ(chains[0].recordAddresses, chains[1].recordAddresses);
  const std::vector<Event> drills = s.host().Drills();
  EXPECT_EQ(drills[0].address, drills[1].address);
  // The host may keep the chain and read the last values there later.
  const auto* first = static_cast<const ChainRecord*>(chains[1].address);
  EXPECT_EQ(first->number, 1);
  EXPECT_EQ(first->value, 127.0f);
  EXPECT_EQ(first->next->value, 0.0f);
  EXPECT_EQ(first->next->next->number, -2);
  EXPECT_EQ(first->next->next->next, nullptr);
}

TEST(DrillBlock, ValuesMarkRequestedNumbersAndSlotsInCurrentUnits) {
  Session s("100\n150\n200\n300\n9 D\n");
  s.Block("T150");  // requested 150, slot 150
  s.Block("T250");  // requested 250, slot 200
  s.Block("D");
  EXPECT_EQ(
      LastChain(s).chain,
      (Chain{{100, 127.0f}, {150, 0.0f}, {200, 0.0f}, {300, 127.0f}, {9, 127.0f}, {-9, 0.0f}}));
  s.Block("G20 D");  // the units step runs before the trigger
  EXPECT_EQ(LastChain(s).chain,
            (Chain{{100, 5.0f}, {150, 5.0f}, {200, 5.0f}, {300, 5.0f}, {9, 5.0f}, {-9, 0.0f}}));
  s.Block("T100 D G21");  // a request in the triggering block counts
  EXPECT_EQ(
      LastChain(s).chain,
      (Chain{{100, 0.0f}, {150, 127.0f}, {200, 127.0f}, {300, 127.0f}, {9, 127.0f}, {-9, 0.0f}}));
  EXPECT_EQ(LastList(s), (List{{100, 100}}));
}

TEST(DrillBlock, MarksOfAPileOfSelectionsAreAllUndoneAtTheNextDrillBlock) {
  std::string table;
  for (int n = 1; n <= 20; ++n) table += std::to_string(n) + "\n";
  Session s(table + "99 D\n");
  // More Selections than a drill block notes one by one, the last ones
  // marking records the first ones do not.
  for (int round = 0; round < 300; ++round) s.Block("T1");
  for (int n = 2; n <= 20; ++n) s.Block("T" + std::to_string(n));
  s.Block("D");
  ASSERT_EQ(LastList(s).size(), 319u);
  for (std::size_t r = 0; r < 20; ++r) EXPECT_EQ(LastChain(s).chain[r].second, 0.0f);
  s.Block("T3 D");
  const Chain& chain = LastChain(s).chain;
  for (std::size_t r = 0; r < 20; ++r) EXPECT_EQ(chain[r].second, r == 2 ? 0.0f : 127.0f) << r;
  EXPECT_EQ(chain[20].second, 127.0f);
}

TEST(DrillBlock, SlotMinusOneMarksOnlyARecordNumberedMinusOne) {
  Session plain("5\n8 D\n");
  plain.Block("T3 D");
  EXPECT_EQ(LastChain(plain).chain, (Chain{{5, 127.0f}, {8, 127.0f}, {-8, 0.0f}}));
  Session withMinusOne("5\n-1\n8 D\n");
  withMinusOne.Block("T3 D");
  EXPECT_EQ(LastChain(withMinusOne).chain,
            (Chain{{5, 127.0f}, {-1, 0.0f}, {8, 127.0f}, {-8, 0.0f}}));
}

TEST(DrillBlock, DuplicateNumbersAreBothMarked) {
  Session s("7 A\n7 B\n");
  s.Block("T7 B");
  EXPECT_EQ(LastChain(s).chain, (Chain{{7, 0.0f}, {7, 0.0f}, {-7, 0.0f}}));
}

// The terminal number of the drill block each block triggers, or nothing.
std::vector<std::int32_t> Triggers(Session& s, std::initializer_list<const char*> blocks) {
  std::vector<std::int32_t> out;
  for (const char* block : blocks) {
    const std::size_t before = DrillCount(s);
    s.Block(block);
    if (DrillCount(s) == before) {
      out.push_back(12345);  // no trigger
    } else {
      out.push_back(LastChain(s).chain.back().first);
    }
  }
  return out;
}
constexpr std::int32_t kNone = 12345;

TEST(DrillBlock, OnlyTheFirstOccurrenceOfANameIsLookedAt) {
  Session s("8 G8\n81 G81\n2 X\n3 X1\n");
  EXPECT_EQ(
      Triggers(s, {"G81 X0", "G81.5", "G81,", "G81-", "G81+", "G81 ", "X10 X", "AX1 Y", "(G81)",
                   "N1 G81", "G8"}),
      (std::vector<std::int32_t>{-81, kNone, kNone, kNone, kNone, -81, kNone, -3, -81, -81, -8}));
}

TEST(DrillBlock, TableOrderDecidesBetweenNames) {
  Session s("3 X1\n2 X\n");
  EXPECT_EQ(Triggers(s, {"X1 Y", "X2 X1"}), (std::vector<std::int32_t>{-3, -3}));
}

TEST(DrillBlock, NamesWithTrailingBlanksAndEmptyNames) {
  Session s("4 G81 \n5\n6 +\n");  // "G81 " with its blank; 5 has no name; "+" is stepped over
  EXPECT_EQ(Triggers(s, {"G81", "G81X", "G81 X", "", "5", "+"}),
            (std::vector<std::int32_t>{kNone, kNone, -4, kNone, kNone, kNone}));
}

TEST(DrillBlock, TerminalNumberIsTheNegatedEntryNumberWrapping) {
  Session s("-2147483648 MIN\nG83\n2147483647 MAX\n-5 NEG\n");
  EXPECT_EQ(Triggers(s, {"MIN", "G83", "MAX", "NEG"}),
            (std::vector<std::int32_t>{INT32_MIN, 0, -INT32_MAX, 5}));
}

TEST(DrillBlock, EmptyTableNeverTriggers) {
  Session s("");
  s.Block("T1 G81");
  s.Block("X");
  EXPECT_EQ(DrillCount(s), 0u);
}

TEST(DrillBlock, ResultIsTheScannersWhateverTheDrillBlock) {
  Session s("1 G81\n");
  EXPECT_TRUE(s.Block("T1 G81"));
  EXPECT_TRUE(s.Block("G52 G81"));
  EXPECT_FALSE(s.Block("G81"));
  EXPECT_EQ(DrillCount(s), 3u);
}

TEST(DrillBlock, NullSlotsAreSkippedAndTheOthersStillCalled) {
  Session s("1 G81\n");
  s.host().table()->putRecordChain = nullptr;
  s.Block("T1 G81");
  EXPECT_EQ(Kinds(BlockEvents(s)),
            (std::vector<Event::Kind>{Event::kLabelledList, Event::kEndBlock}));
  s.host().table()->putLabelledList = nullptr;
  s.host().table()->endBlock = nullptr;
  s.Block("T1 G81");
  EXPECT_EQ(BlockEvents(s).size(), 2u);
  s.host().table()->endBlock = s.host().table()->endBlock;
}

TEST(DrillBlock, ContextAndSlotsAreReadAtEachCall) {
  Session s("1 G81\n");
  RecordingHost other;
  s.host().table()->endBlock = other.table()->endBlock;
  s.host().table()->context = &other;  // every callback now records into `other`
  s.Block("G81");
  EXPECT_EQ(BlockEvents(s).size(), 0u);
  EXPECT_EQ(
      Kinds(other.events()),
      (std::vector<Event::Kind>{Event::kRecordChain, Event::kLabelledList, Event::kEndBlock}));
}

TEST(DrillBlock, ReentrantCallsKeepMemoryValidAndTheOuterBlockEmptiesTheList) {
  Session s("1\n2\n3\n9 G81\n");
  Interpreter& interpreter = s.interpreter();
  s.Block("T1");
  // While the host walks the list, it interprets a request and a whole drill block.
  s.host().OnNext(Event::kLabelledList, [&] {
    interpreter.InterpretBlock("T2", 2);
    const SelectionList& list =
        *static_cast<const SelectionList*>(s.host().events().back().address);
    const SelectionNode* held = list.sentinel->next;  // the host holds a node
    s.host().OnNext(Event::kLabelledList, [&] { interpreter.InterpretBlock("T3", 2); });
    interpreter.InterpretBlock("G81", 3);
    EXPECT_EQ(held->selection.requested, 1);  // still readable
    EXPECT_EQ(list.count, 0u);                // the inner drill block emptied it, T3 included
  });
  s.Block("G81");
  const std::vector<Event> drills = s.host().Drills();
  ASSERT_EQ(drills.size(), 2u);
  EXPECT_EQ(drills[0].selections, (List{{1, 1}}));
  EXPECT_EQ(drills[1].selections, (List{{1, 1}, {2, 2}}));
  // The outer drill block ended by emptying the list, the inner T3 included.
  s.Block("G81");
  EXPECT_EQ(LastList(s), List{});
  s.Block("T3 G81");
  EXPECT_EQ(LastList(s), (List{{3, 3}}));
}

// 32-bit mingw unwinds by tables that each module registers with its own
// copy of the runtime: there a test program's exception cannot even be
// raised through the DLL's frames (its runtime ends the program first).
#if !defined(_WIN32) || defined(_WIN64)
TEST(DrillBlock, AnExceptionFromACallbackEndsAtThatCall) {
  Session s("1 G81\n");
  s.host().OnNext(Event::kRecordChain, [] { throw std::runtime_error("host failure"); });
  EXPECT_NO_THROW(EXPECT_TRUE(s.Block("T1 G81")));
  EXPECT_EQ(
      Kinds(BlockEvents(s)),
      (std::vector<Event::Kind>{Event::kRecordChain, Event::kLabelledList, Event::kEndBlock}));
  s.host().OnNext(Event::kEndBlock, [] { throw 42; });
  EXPECT_NO_THROW(s.Block("T1 G81"));
  s.Block("G81");
  EXPECT_EQ(LastList(s), List{});  // the list was emptied all the same

  TempFolder folder;
  LoadedPlugin plugin(folder.path());
  RecordingHost host;
  host.OnNext(Event::kDefinitionPath, [] { throw std::runtime_error("host failure"); });
  std::unique_ptr<Interpreter> interpreter;
  EXPECT_NO_THROW(interpreter.reset(plugin.Create(host.table())));
  EXPECT_NE(interpreter, nullptr);
}
#endif

TEST(DrillBlock, TwoInterpretersKeepSeparateTablesAndSelections) {
  TempFolder folder;
  folder.Write("a.txt", "1 A\n");
  folder.Write("b.txt", "2 B\n");
  LoadedPlugin plugin(folder.path());
  RecordingHost hostA, hostB;
  std::unique_ptr<Interpreter> a(plugin.Create(hostA.table(), nullptr, "a.txt"));
  std::unique_ptr<Interpreter> b(plugin.Create(hostB.table(), nullptr, "b.txt"));
  a->InterpretBlock("T1 G20", 6);
  b->InterpretBlock("T2", 2);
  a->InterpretBlock("B", 1);
  b->InterpretBlock("A", 1);
  EXPECT_TRUE(hostA.Drills().empty());
  EXPECT_TRUE(hostB.Drills().empty());
  a->InterpretBlock("A", 1);
  b->InterpretBlock("B", 1);
  ASSERT_EQ(hostA.Drills().size(), 1u);
  ASSERT_EQ(hostB.Drills().size(), 1u);
  EXPECT_EQ(hostA.Drills()[0].selections, (List{{1, 1}}));
  EXPECT_EQ(hostB.Drills()[0].selections, (List{{2, 2}}));
}

TEST(DrillBlock, TheDefaultTableBesideThePluginIsRead) {
  Session s("# spindles\n301\n\n302\n81 G81\n");
  s.Block("T2 M9");
  s.Block("G81");
  EXPECT_EQ(LastChain(s).chain, (Chain{{301, 127.0f}, {302, 0.0f}, {81, 127.0f}, {-81, 0.0f}}));
}

TEST(DrillBlock, ATableEndsAtItsCtrlZ) {
  // Editors of DOS descent end a table with a Ctrl-Z: it adds no record 0,
  // so T7 still finds no slot and the chain holds the file's lines only.
  Session s("5 G81\r\n9\r\n\x1A");
  s.Block("T7");
  s.Block("G81");
  EXPECT_EQ(LastChain(s).chain, (Chain{{5, 0.0f}, {9, 127.0f}, {-5, 0.0f}}));
  EXPECT_EQ(LastList(s), (List{{5, 7}}));
  Session cut("1\r\n4 G81\x1A\r\n2 G82\r\n");
  cut.Block("T3 G82");
  cut.Block("G81");
  EXPECT_EQ(LastChain(cut).chain, (Chain{{1, 0.0f}, {4, 127.0f}, {-4, 0.0f}}));
}

}  // namespace
}  // namespace ncdrill_test
