// The host helper (ncdrill/host.hpp) as a host uses it: against the built
// plug-in in a temporary folder, and against stand-in plug-ins for the shapes
// and failures the real one does not make.
#include "ncdrill/host.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <numeric>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "host_platform.h"
#include "plugin_host.h"

namespace ncdrill_test {
namespace {

namespace fs = std::filesystem;

// The built plug-in copied beside a table, as a host installs it.
struct PluginBesideTable {
  explicit PluginBesideTable(std::string_view table) {
    folder.Write("VONDRIX_4.txt", table);
    fs::copy_file(BuiltPluginFile(), file());
  }
  std::string file() const { return folder.path() + PluginFileName(); }
  TempFolder folder;
};

// What a handler saw of one drill block, copied out during the call.
struct Seen {
  std::vector<std::pair<std::int32_t, float>> records;
  std::int32_t terminal = 0;
  std::vector<std::pair<std::int32_t, std::int32_t>> selections;
  std::string label;
};

class Recorder : public ncdrill::Handler {
 public:
  void OnDefinitionPath(std::string_view path) override { paths.emplace_back(path); }
  void OnDrillBlock(const ncdrill::DrillBlock& block) override {
    Seen seen;
    for (const ChainRecord& record : block.records()) {
      seen.records.emplace_back(record.number, record.value);
    }
    EXPECT_EQ(seen.records.size(), block.records().size());
    seen.terminal = block.terminalNumber();
    for (const Selection& selection : block.selections()) {
      seen.selections.emplace_back(selection.slot, selection.requested);
    }
    EXPECT_EQ(seen.selections.size(), block.selections().size());
    seen.label = std::string(block.label());
    drills.push_back(std::move(seen));
    if (then) then(block);
  }

  std::vector<std::string> paths;
  std::vector<Seen> drills;
  std::function<void(const ncdrill::DrillBlock&)> then;
};

int ScriptedLiveInterpreters() {
  using Count = int (*)();
  void* found = FindInLoaded(NCDRILL_SCRIPTED_PLUGIN, "ScriptedLiveInterpreters");
  if (found == nullptr) return -1;
  Count count = nullptr;
  std::memcpy(&count, &found, sizeof count);
  return count();
}

TEST(HostHelper, ACompleteHostInAFewLines) {
  PluginBesideTable plugin("301\n302\n12\n81 G81\n");
  Recorder recorder;
  const ncdrill::Plugin loaded(plugin.file());
  ncdrill::Session session = loaded.Open(recorder);
  EXPECT_TRUE(session.Interpret("T3 M9"));
  EXPECT_TRUE(session.Interpret("T15"));
  EXPECT_FALSE(session.Interpret("G81 Z-5"));

  EXPECT_EQ(recorder.paths, std::vector<std::string>{plugin.folder.path() + "VONDRIX_4.xml"});
  ASSERT_EQ(recorder.drills.size(), 1u);
  const Seen& drill = recorder.drills[0];
  EXPECT_EQ(drill.records, (std::vector<std::pair<std::int32_t, float>>{
                               {301, 0.0f}, {302, 0.0f}, {12, 0.0f}, {81, 127.0f}}));
  EXPECT_EQ(drill.terminal, -81);
  EXPECT_EQ(drill.selections,
            (std::vector<std::pair<std::int32_t, std::int32_t>>{{301, 301}, {302, 302}, {12, 15}}));
  EXPECT_EQ(drill.label, "Drill block");
}

TEST(HostHelper, NamesArePassedAsGiven) {
  PluginBesideTable plugin("");
  plugin.folder.Write("other.txt", "7 X\n");
  Recorder recorder;
  ncdrill::Session session = ncdrill::Plugin(plugin.file()).Open(recorder, "d.xml", "other.txt");
  EXPECT_TRUE(session.Interpret("T9"));
  session.Interpret("X");
  EXPECT_EQ(recorder.paths, std::vector<std::string>{plugin.folder.path() + "d.xml"});
  ASSERT_EQ(recorder.drills.size(), 1u);
  EXPECT_EQ(recorder.drills[0].terminal, -7);
}

TEST(HostHelper, RangesOverEmptyAndLongChainsAndLists) {
  Recorder recorder;
  ncdrill::Session session = ncdrill::Plugin(NCDRILL_SCRIPTED_PLUGIN).Open(recorder);
  session.Interpret("0 0");
  session.Interpret("100000 70000");
  ASSERT_EQ(recorder.drills.size(), 2u);
  EXPECT_TRUE(recorder.drills[0].records.empty());
  EXPECT_TRUE(recorder.drills[0].selections.empty());
  EXPECT_EQ(recorder.drills[0].terminal, 0);
  EXPECT_EQ(recorder.drills[1].records.size(), 100000u);
  EXPECT_EQ(recorder.drills[1].records.back().first, 100000);
  EXPECT_EQ(recorder.drills[1].terminal, -100000);
  ASSERT_EQ(recorder.drills[1].selections.size(), 70000u);
  EXPECT_EQ(recorder.drills[1].selections.back(), std::make_pair(69999, 70999));

  // Standard algorithms take the ranges as they are.
  recorder.then = [](const ncdrill::DrillBlock& block) {
    const auto records = block.records();
    EXPECT_EQ(static_cast<std::size_t>(std::distance(records.begin(), records.end())),
              records.size());
    const auto found = std::find_if(records.begin(), records.end(),
                                    [](const ChainRecord& r) { return r.number == 3; });
    ASSERT_NE(found, records.end());
    EXPECT_EQ(found->number, 3);
    const auto selections = block.selections();
    const std::vector<Selection> copied(selections.begin(), selections.end());
    EXPECT_EQ(copied.size(), selections.size());
    EXPECT_EQ(std::accumulate(selections.begin(), selections.end(), 0,
                              [](int sum, const Selection& s) { return sum + s.slot; }),
              0 + 1 + 2 + 3);
    auto it = selections.begin();
    const auto before = it++;
    EXPECT_EQ(before->slot, 0);
    EXPECT_EQ(it->slot, 1);
  };
  session.Interpret("5 4");
  EXPECT_EQ(recorder.drills.size(), 3u);
}

TEST(HostHelper, AHandlerMayInterpretAgainOnItsOwnSession) {
  PluginBesideTable plugin("1\n2\n81 G81\n82 G82\n");
  Recorder recorder;
  ncdrill::Session session = ncdrill::Plugin(plugin.file()).Open(recorder);
  bool nested = false;
  recorder.then = [&](const ncdrill::DrillBlock& block) {
    if (nested) return;
    nested = true;
    EXPECT_TRUE(session.Interpret("T2 G82"));
    // The outer block still reads the interpreter's own records and list,
    // which the inner drill block rewrote and emptied.
    EXPECT_EQ(block.terminalNumber(), -82);
    EXPECT_TRUE(block.selections().empty());
    EXPECT_EQ(std::distance(block.selections().begin(), block.selections().end()), 0);
  };
  session.Interpret("T1");
  session.Interpret("G81");
  ASSERT_EQ(recorder.drills.size(), 2u);
  EXPECT_EQ(recorder.drills[0].terminal, -81);
  EXPECT_EQ(recorder.drills[1].terminal, -82);
  EXPECT_EQ(recorder.drills[1].selections,
            (std::vector<std::pair<std::int32_t, std::int32_t>>{{1, 1}, {2, 2}}));
}

struct Thrown : std::runtime_error {
  using std::runtime_error::runtime_error;
};

TEST(HostHelper, WhatAHandlerThrowsComesOutOfInterpretAfterThePlugInReturned) {
  PluginBesideTable plugin("1\n81 G81\n82 G82\n");
  Recorder recorder;
  ncdrill::Session session = ncdrill::Plugin(plugin.file()).Open(recorder);
  recorder.then = [](const ncdrill::DrillBlock& block) {
    throw Thrown("from drill block " + std::to_string(block.terminalNumber()));
  };
  session.Interpret("T1");
  try {
    session.Interpret("G81");
    FAIL() << "no exception";
  } catch (const Thrown& e) {
    EXPECT_STREQ(e.what(), "from drill block -81");
  }
  // The plug-in finished its drill block: the Selections were emptied.
  recorder.then = nullptr;
  EXPECT_FALSE(session.Interpret("G82"));
  ASSERT_EQ(recorder.drills.size(), 2u);
  EXPECT_TRUE(recorder.drills[1].selections.empty());

  // An exception from a nested Interpret goes through the outer handler
  // and comes out of the outer call, once.
  int calls = 0;
  recorder.then = [&](const ncdrill::DrillBlock& block) {
    ++calls;
    if (block.terminalNumber() == -81) session.Interpret("G82");
    if (block.terminalNumber() == -82) throw Thrown("inner");
  };
  EXPECT_THROW(session.Interpret("G81"), Thrown);
  EXPECT_EQ(calls, 2);
  recorder.then = nullptr;
  EXPECT_NO_THROW(session.Interpret("G81"));
}

TEST(HostHelper, WhatOnDefinitionPathThrowsComesOutOfOpenWithTheInterpreterGone) {
  struct Refuses : ncdrill::Handler {
    void OnDefinitionPath(std::string_view) override { throw Thrown("no path wanted"); }
  } refuses;
  const ncdrill::Plugin scripted(NCDRILL_SCRIPTED_PLUGIN);
  EXPECT_THROW(scripted.Open(refuses), Thrown);
  EXPECT_EQ(ScriptedLiveInterpreters(), 0);

  Recorder recorder;
  {
    ncdrill::Session one = scripted.Open(recorder);
    EXPECT_EQ(ScriptedLiveInterpreters(), 1);
  }
  EXPECT_EQ(ScriptedLiveInterpreters(), 0);
}

TEST(HostHelper, LoadErrorsNameTheFileAndTheReason) {
  TempFolder folder;
  const std::string missing = folder.path() + "missing-" + PluginFileName();
  try {
    ncdrill::Plugin plugin(missing);
    FAIL() << "loaded a missing file";
  } catch (const ncdrill::LoadError& e) {
    const std::string what = e.what();
    const std::string named = "cannot load the ncdrill plug-in " + missing + ": ";
    EXPECT_EQ(what.rfind(named, 0), 0u) << what;
    EXPECT_GT(what.size(), named.size()) << "the loader's reason is missing";
  }
  try {
    ncdrill::Plugin plugin(NCDRILL_NO_ENTRY_PLUGIN);
    FAIL() << "loaded a library without GetInterpreter";
  } catch (const ncdrill::LoadError& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find(NCDRILL_NO_ENTRY_PLUGIN), std::string::npos) << what;
    EXPECT_NE(what.find("GetInterpreter"), std::string::npos) << what;
  }
  EXPECT_FALSE(IsLoaded(NCDRILL_NO_ENTRY_PLUGIN));

  // A bare name is a file in the working folder, never one the loader
  // finds elsewhere.
#if defined(_WIN32)
  EXPECT_THROW(ncdrill::Plugin("kernel32.dll"), ncdrill::LoadError);
#else
  EXPECT_THROW(ncdrill::Plugin("libc.so.6"), ncdrill::LoadError);
#endif

  Recorder recorder;
  EXPECT_THROW(ncdrill::Plugin(NCDRILL_NULL_PLUGIN).Open(recorder), std::bad_alloc);
}

TEST(HostHelper, TheLibraryStaysLoadedWhileAnySessionOrCopyNeedsIt) {
  PluginBesideTable plugin("81 G81\n");
  Recorder recorder;
  std::vector<ncdrill::Session> sessions;
  {
    const ncdrill::Plugin loaded(plugin.file());
    const ncdrill::Plugin copy = loaded;  // NOLINT(performance-unnecessary-copy-initialization)
    sessions.push_back(copy.Open(recorder));
    EXPECT_TRUE(IsLoaded(plugin.file()));
  }
  EXPECT_TRUE(IsLoaded(plugin.file()));
  sessions.push_back(std::move(sessions[0]));  // moves keep the session working
  sessions.back().Interpret("G81");
  EXPECT_EQ(recorder.drills.size(), 1u);
  EXPECT_THROW(sessions[0].Interpret("G81"), std::logic_error);
  sessions.clear();
  EXPECT_FALSE(IsLoaded(plugin.file()));
}

TEST(HostHelper, TwoSessionsFeedTheirOwnHandlers) {
  PluginBesideTable plugin("1\n2\n81 G81\n");
  const ncdrill::Plugin loaded(plugin.file());
  Recorder first;
  Recorder second;
  ncdrill::Session a = loaded.Open(first);
  ncdrill::Session b = loaded.Open(second);
  a.Interpret("T1");
  b.Interpret("T2");
  b.Interpret("G81");
  a.Interpret("G81");
  ASSERT_EQ(first.drills.size(), 1u);
  ASSERT_EQ(second.drills.size(), 1u);
  EXPECT_EQ(first.drills[0].selections,
            (std::vector<std::pair<std::int32_t, std::int32_t>>{{1, 1}}));
  EXPECT_EQ(second.drills[0].selections,
            (std::vector<std::pair<std::int32_t, std::int32_t>>{{2, 2}}));
}

}  // namespace
}  // namespace ncdrill_test
