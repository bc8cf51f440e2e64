#include "plugin_host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace ncdrill_test {

std::string BuiltPluginFile() { return NCDRILL_PLUGIN_FILE; }

TempFolder::TempFolder() : path_(MakeScratchFolder("ncdrill-test-")) {}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

void TempFolder::Write(const std::string& name, std::string_view bytes) const {
  const fs::path file = fs::path(path_) / name;
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

LoadedPlugin::LoadedPlugin(const std::string& folder, const std::string& openAs,
                           const std::string& source)
    : file_(folder + PluginFileName()) {
  fs::copy_file(source, file_, fs::copy_options::overwrite_existing);
  library_ = std::make_unique<Library>(openAs.empty() ? file_ : openAs);
  getInterpreter_ = reinterpret_cast<GetInterpreterFn>(library_->Find("GetInterpreter"));
  if (getInterpreter_ == nullptr) throw std::runtime_error("no GetInterpreter");
}

Interpreter* LoadedPlugin::Create(HostCallbacks* host, const char* definitionFileName,
                                  const char* tableFileName) const {
  return getInterpreter_(host, definitionFileName, tableFileName);
}

std::vector<Selection> ReadSelectionList(const SelectionList& list) {
  std::vector<Selection> out;
  const SelectionNode* sentinel = list.sentinel;
  EXPECT_NE(sentinel, nullptr);
  if (sentinel == nullptr) return out;
  const SelectionNode* previous = sentinel;
  for (const SelectionNode* node = sentinel->next; node != sentinel; node = node->next) {
    EXPECT_EQ(node->prev, previous) << "prev link broken";
    out.push_back(node->selection);
    previous = node;
    if (out.size() > list.count + 1) {
      ADD_FAILURE() << "list runs past its count";
      break;
    }
  }
  EXPECT_EQ(sentinel->prev, previous) << "sentinel's prev is not the last node";
  EXPECT_EQ(list.count, out.size());
  return out;
}

RecordingHost::RecordingHost() {
  table_.context = this;
  table_.putDefinitionPath = &PutDefinitionPath;
  table_.putRecordChain = &PutRecordChain;
  table_.putLabelledList = &PutLabelledList;
  table_.endBlock = &EndBlock;
}

void RecordingHost::OnNext(Event::Kind kind, std::function<void()> action) {
  pendingKind_ = kind;
  pending_ = std::move(action);
}

std::vector<Event> RecordingHost::Drills() const {
  std::vector<Event> out;
  for (const Event& e : events_) {
    if (e.kind == Event::kLabelledList) out.push_back(e);
  }
  return out;
}

RecordingHost* RecordingHost::Self(void* context) { return static_cast<RecordingHost*>(context); }

void RecordingHost::Record(Event event) {
  const Event::Kind kind = event.kind;
  events_.push_back(std::move(event));
  if (pending_ && pendingKind_ == kind) {
    std::function<void()> action = std::move(pending_);
    pending_ = nullptr;
    action();
  }
}

void RecordingHost::PutDefinitionPath(void* context, const char* path) {
  Event e(Event::kDefinitionPath);
  e.context = context;
  e.text = path;
  Self(context)->Record(std::move(e));
}

void RecordingHost::PutRecordChain(void* context, const ChainRecord* first) {
  Event e(Event::kRecordChain);
  e.context = context;
  e.address = first;
  for (const ChainRecord* r = first; r != nullptr; r = r->next) {
    e.chain.emplace_back(r->number, r->value);
    e.recordAddresses.push_back(r);
    if (e.chain.size() > 1000000) {
      ADD_FAILURE() << "record chain does not end";
      break;
    }
  }
  Self(context)->Record(std::move(e));
}

void RecordingHost::PutLabelledList(void* context, const char* label, const SelectionList* list) {
  Event e(Event::kLabelledList);
  e.context = context;
  e.text = label;
  e.address = list;
  e.selections = ReadSelectionList(*list);
  Self(context)->Record(std::move(e));
}

void RecordingHost::EndBlock(void* context) {
  Event e(Event::kEndBlock);
  e.context = context;
  Self(context)->Record(std::move(e));
}

Session::Session(std::string_view table, const char* tableFileName, const std::string& pluginFile) {
  folder_.Write(tableFileName != nullptr ? tableFileName : "VONDRIX_4.txt", table);
  plugin_ = std::make_unique<LoadedPlugin>(folder_.path(), "", pluginFile);
  interpreter_ = plugin_->Create(host_.table(), nullptr, tableFileName);
  if (interpreter_ == nullptr) throw std::runtime_error("GetInterpreter returned null");
}

Session::~Session() { delete interpreter_; }

bool Session::Block(std::string_view text) {
  // An exact-size copy, so that reading past `length` shows under sanitizers.
  std::unique_ptr<char[]> copy(new char[text.empty() ? 1 : text.size()]);
  std::memcpy(copy.get(), text.data(), text.size());
  return interpreter_->InterpretBlock(copy.get(), static_cast<std::int32_t>(text.size()));
}

}  // namespace ncdrill_test
