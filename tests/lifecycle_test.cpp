// GetInterpreter and the interpreter's life, through a host that loads the
// plug-in as hosts do.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "plugin_host.h"

namespace ncdrill_test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> DefinitionPaths(RecordingHost& host) {
  std::vector<std::string> paths;
  for (const Event& e : host.events()) {
    EXPECT_EQ(e.kind, Event::kDefinitionPath);
    EXPECT_EQ(e.context, &host);
    paths.push_back(e.text);
  }
  return paths;
}

// Creates an interpreter and returns the definition paths the host got
// before GetInterpreter returned.
std::vector<std::string> PathsAtCreation(const LoadedPlugin& plugin, const char* definition,
                                         const char* table) {
  RecordingHost host;
  std::unique_ptr<Interpreter> interpreter(plugin.Create(host.table(), definition, table));
  EXPECT_NE(interpreter, nullptr);
  std::vector<std::string> paths = DefinitionPaths(host);
  if (interpreter) {
    EXPECT_EQ(interpreter->host, host.table());
  }
  return paths;
}

using Paths = std::vector<std::string>;

TEST(GetInterpreter, HandsTheDefinitionPathOnceBeforeReturning) {
  TempFolder folder;
  LoadedPlugin plugin(folder.path());
  const std::string& dir = folder.path();
  EXPECT_EQ(PathsAtCreation(plugin, nullptr, nullptr), Paths{dir + "VONDRIX_4.xml"});
  EXPECT_EQ(PathsAtCreation(plugin, "", ""), Paths{dir + "VONDRIX_4.xml"});
  EXPECT_EQ(PathsAtCreation(plugin, "other.xml", "other.txt"), Paths{dir + "other.xml"});
  // Names are appended as they stand, even absolute ones or ones with folders.
  EXPECT_EQ(PathsAtCreation(plugin, "/abs/d.xml", nullptr), Paths{dir + "/abs/d.xml"});
  EXPECT_EQ(PathsAtCreation(plugin, "sub/d e.xml", nullptr), Paths{dir + "sub/d e.xml"});
}

TEST(GetInterpreter, DefinitionPathHasNoLengthLimit) {
  TempFolder root;
  std::string deep;
  for (int i = 0; i < 12; ++i) deep += AsFolder(std::string(40, static_cast<char>('a' + i)));
  fs::create_directories(root.path() + deep);
  LoadedPlugin plugin(root.path() + deep);
  const std::string longName(3000, 'n');
  EXPECT_EQ(PathsAtCreation(plugin, longName.c_str(), nullptr),
            Paths{root.path() + deep + longName});
}

TEST(GetInterpreter, FolderOfARelativeLoadIsTheOneNamedAtLoadTime) {
  TempFolder root;
  fs::create_directories(root.path() + "sub");
  const fs::path before = fs::current_path();
  fs::current_path(root.path());
  std::unique_ptr<LoadedPlugin> plugin;
  try {
    plugin = std::make_unique<LoadedPlugin>(root.path() + AsFolder("sub"),
                                            AsFolder(".") + AsFolder("sub") + PluginFileName());
  } catch (...) {
    fs::current_path(before);
    throw;
  }
  fs::current_path(fs::temp_directory_path().root_path());
  Paths paths = PathsAtCreation(*plugin, nullptr, nullptr);
  fs::current_path(before);
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_EQ(fs::path(paths[0]).lexically_normal(),
            fs::path(root.path() + AsFolder("sub") + "VONDRIX_4.xml").lexically_normal());
  EXPECT_TRUE(fs::path(paths[0]).is_absolute());
}

// Folder links on Windows need privileges a test may not have.
#if !defined(_WIN32)
TEST(GetInterpreter, ALinkedFolderIsNotResolved) {
  TempFolder root;
  fs::create_directories(root.path() + "real");
  fs::create_directory_symlink(root.path() + "real", root.path() + "linked");
  root.Write("real/VONDRIX_4.txt", "1 G81\n");
  LoadedPlugin plugin(root.path() + "real/", root.path() + "linked/ncdrill.so");
  EXPECT_EQ(PathsAtCreation(plugin, nullptr, nullptr), Paths{root.path() + "linked/VONDRIX_4.xml"});
}
#endif

TEST(GetInterpreter, WorksWithoutATableFile) {
  TempFolder folder;
  LoadedPlugin plugin(folder.path());
  RecordingHost host;
  std::unique_ptr<Interpreter> interpreter(plugin.Create(host.table()));
  ASSERT_NE(interpreter, nullptr);
  EXPECT_FALSE(interpreter->InterpretBlock("G81 X1", 6));
  EXPECT_EQ(host.events().size(), 1u);
}

TEST(GetInterpreter, NullCallbackSlotsAndANullTableAreNeverCalled) {
  TempFolder folder;
  folder.Write("VONDRIX_4.txt", "1 G81\n");
  LoadedPlugin plugin(folder.path());
  HostCallbacks empty{};
  std::unique_ptr<Interpreter> a(plugin.Create(&empty));
  ASSERT_NE(a, nullptr);
  a->InterpretBlock("T1 G81", 6);
  std::unique_ptr<Interpreter> b(plugin.Create(nullptr));
  ASSERT_NE(b, nullptr);
  b->InterpretBlock("T1 G81", 6);
}

TEST(GetInterpreter, CreatesFromManyThreadsAtOnce) {
  TempFolder folder;
  LoadedPlugin plugin(folder.path());
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        const std::string name = "def-" + std::to_string(t) + "-" + std::to_string(i) +
                                 std::string(static_cast<std::size_t>(t) * 100, 'x') + ".xml";
        RecordingHost host;
        std::unique_ptr<Interpreter> interpreter(plugin.Create(host.table(), name.c_str()));
        if (!interpreter || host.events().size() != 1 ||
            host.events()[0].text != folder.path() + name) {
          ++wrong;
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(PluginFile, ExportsGetInterpreterOnly) {
  TempFolder folder;
  LoadedPlugin plugin(folder.path());
  EXPECT_NE(plugin.Find("GetInterpreter"), nullptr);
  // Internal names stay hidden (the symbol table itself is checked by a
  // separate test on the built file).
  EXPECT_EQ(plugin.Find("_ZN7ncdrill8FindSlotERKSt6vectorINS_10TableEntryESaIS1_EEi"), nullptr);
}

}  // namespace
}  // namespace ncdrill_test
