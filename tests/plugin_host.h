// A host for tests: loads a private copy of the built plug-in (ncdrill.so,
// ncdrill.dll) from a temporary folder that holds its table file, and
// records every callback.
#ifndef NCDRILL_TESTS_PLUGIN_HOST_H
#define NCDRILL_TESTS_PLUGIN_HOST_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host_platform.h"
#include "ncdrill/ncdrill.h"

namespace ncdrill_test {

// A folder under the system's temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }  // ends with PathSeparator()
  // Writes `bytes` to `name` inside the folder, making subfolders as needed.
  void Write(const std::string& name, std::string_view bytes) const;

 private:
  std::string path_;
};

// The path of the built plug-in.
std::string BuiltPluginFile();

// `name` as a folder: followed by the system's separator.
inline std::string AsFolder(const std::string& name) { return name + PathSeparator(); }

// The plug-in copied into a folder and opened there, as a host opens it.
// Each copy is a separate file, so each LoadedPlugin gets its own instance.
class LoadedPlugin {
 public:
  // Copies the plug-in file `source` to `folder` + PluginFileName() and
  // opens it by `openAs` (that full path when empty).
  explicit LoadedPlugin(const std::string& folder, const std::string& openAs = "",
                        const std::string& source = BuiltPluginFile());

  Interpreter* Create(HostCallbacks* host, const char* definitionFileName = nullptr,
                      const char* tableFileName = nullptr) const;
  // An exported function of the loaded copy, or null.
  void* Find(const char* name) const { return library_->Find(name); }
  const std::string& file() const { return file_; }

 private:
  std::string file_;
  std::unique_ptr<Library> library_;
  GetInterpreterFn getInterpreter_ = nullptr;
};

// One callback as the recording host saw it. Chains and lists are copied out
// during the call, through the layouts the boundary header pins.
struct Event {
  enum Kind { kDefinitionPath, kRecordChain, kLabelledList, kEndBlock };
  explicit Event(Kind k) : kind(k) {}
  Kind kind;
  void* context = nullptr;
  std::string text;                                   // path or label
  const void* address = nullptr;                      // first record or list object
  std::vector<std::pair<std::int32_t, float>> chain;  // every record, terminal one last
  std::vector<const ChainRecord*> recordAddresses;
  std::vector<Selection> selections;
};

// A callback table that records every call, checking the list's shape on
// the way (circular both ways, count matching).
class RecordingHost {
 public:
  RecordingHost();
  HostCallbacks* table() { return &table_; }
  std::vector<Event>& events() { return events_; }
  // Runs `action` inside the next callback of `kind` (once).
  void OnNext(Event::Kind kind, std::function<void()> action);

  // Shapes the test asserts on.
  std::vector<Event> Drills() const;  // kLabelledList events

 private:
  static RecordingHost* Self(void* context);
  void Record(Event event);
  static void PutDefinitionPath(void* context, const char* path);
  static void PutRecordChain(void* context, const ChainRecord* first);
  static void PutLabelledList(void* context, const char* label, const SelectionList* list);
  static void EndBlock(void* context);

  HostCallbacks table_{};
  std::vector<Event> events_;
  Event::Kind pendingKind_ = Event::kEndBlock;
  std::function<void()> pending_;
};

// A table file, a plug-in copy beside it and an interpreter, for tests that
// only need to feed blocks.
class Session {
 public:
  // `pluginFile`: the plug-in file to copy and load.
  explicit Session(std::string_view table, const char* tableFileName = nullptr,
                   const std::string& pluginFile = BuiltPluginFile());
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool Block(std::string_view text);  // passes the text and its length, no NUL after it
  Interpreter& interpreter() { return *interpreter_; }
  RecordingHost& host() { return host_; }
  TempFolder& folder() { return folder_; }

 private:
  TempFolder folder_;
  std::unique_ptr<LoadedPlugin> plugin_;
  RecordingHost host_;
  Interpreter* interpreter_ = nullptr;
};

// Walks a SelectionList as a host does, checking its links and count.
std::vector<Selection> ReadSelectionList(const SelectionList& list);

}  // namespace ncdrill_test

inline bool operator==(const Selection& a, const Selection& b) {
  return a.slot == b.slot && a.requested == b.requested;
}

#endif
