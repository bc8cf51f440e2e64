// Fuzz target: a whole session through the real boundary.
//
// The plug-in is loaded once with dlopen from a scratch folder, the way a
// host loads it, and every input then creates one interpreter through
// GetInterpreter, feeds it blocks and deletes it. (The fuzz build compiles the
// plug-in with fuzzer-no-link, so libFuzzer sees its coverage across the
// dlopen.)
//
// Input: the table file's bytes, then a line "%%", then one block per line.
// In a block line, a '|' marks where the block's length stops: the plug-in
// gets the whole line as its buffer (exactly that big) but only the length up
// to the '|'. An empty block line is passed as a null text of length 0.
// Without a "%%" line the whole input is the table and no block is fed.
//
// The checking host verifies at every callback what a host may rely on: the
// definition path arrives once, during creation; a drill block is the chain,
// then the list labelled "Drill block", then the end call, and nothing
// outside drill blocks; the chain runs in file order to a terminal record
// with a null next, at addresses that never change; every value is 0.0, 5.0
// or 127.0; the list is circular both ways with a matching count. Each
// block's result, values, terminal number and Selections must also equal the
// model's, and so must the block explainer's, which the replay tool's
// --explain and --lint stand on.
#include <dlfcn.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "interpret/block_explainer.h"
#include "model.h"
#include "ncdrill/ncdrill.h"

using ncdrill_fuzz::Check;

namespace {

GetInterpreterFn getInterpreter = nullptr;

class CheckingHost {
 public:
  explicit CheckingHost(const ncdrill_model::Interpreter& model) : model_(model) {
    table_.context = this;
    table_.putDefinitionPath = &PutDefinitionPath;
    table_.putRecordChain = &PutRecordChain;
    table_.putLabelledList = &PutLabelledList;
    table_.endBlock = &EndBlock;
  }
  HostCallbacks* table() { return &table_; }

  void BeginCreation() { phase_ = Phase::kCreating; }
  void EndCreation() {
    Check(definitionPaths_ == 1, "putDefinitionPath must come once, before GetInterpreter returns");
    phase_ = Phase::kIdle;
  }
  // Brackets one InterpretBlock call with what the model expects of it.
  void BeginBlock(const ncdrill_model::Outcome* expected) {
    expected_ = expected;
    phase_ = Phase::kInBlock;
  }
  void EndBlock() {
    Check(phase_ == (expected_->drill ? Phase::kEnded : Phase::kInBlock),
          expected_->drill ? "a drill block was expected and did not come whole"
                           : "callbacks came from a block that triggers nothing");
    phase_ = Phase::kIdle;
  }

 private:
  enum class Phase { kIdle, kCreating, kInBlock, kChained, kListed, kEnded };

  static CheckingHost& Self(void* context) { return *static_cast<CheckingHost*>(context); }

  static void PutDefinitionPath(void* context, const char* path) {
    CheckingHost& h = Self(context);
    Check(h.phase_ == Phase::kCreating, "putDefinitionPath outside GetInterpreter");
    Check(path != nullptr && path == ncdrill_fuzz::ScratchFolder() + "VONDRIX_4.xml",
          "definition path is not the plug-in's folder and the default name");
    ++h.definitionPaths_;
  }

  static void PutRecordChain(void* context, const ChainRecord* first) {
    CheckingHost& h = Self(context);
    Check(h.phase_ == Phase::kInBlock, "putRecordChain out of order");
    Check(h.expected_->drill, "putRecordChain in a block that triggers nothing");
    const std::vector<ncdrill_model::Entry>& entries = h.model_.entries();
    const bool firstDrill = h.addresses_.empty();
    const ChainRecord* r = first;
    for (std::size_t i = 0; i <= entries.size(); ++i) {
      Check(r != nullptr, "the chain ends before the terminal record");
      if (firstDrill) {
        h.addresses_.push_back(r);
      } else {
        Check(h.addresses_[i] == r, "a record moved");
      }
      Check(r->value == 0.0f || r->value == 5.0f || r->value == 127.0f,
            "a value is not 0.0, 5.0 or 127.0");
      if (i < entries.size()) {
        Check(r->number == entries[i].number, "the chain is not in file order");
        Check(r->value == h.expected_->values[i], "a record's value differs from the model");
        r = r->next;
      } else {
        Check(r->next == nullptr, "the terminal record's next is not null");
        Check(r->value == 0.0f, "the terminal record's value is not 0.0");
        Check(r->number == h.expected_->terminal, "terminal number differs from the model");
      }
    }
    h.phase_ = Phase::kChained;
  }

  static void PutLabelledList(void* context, const char* label, const SelectionList* list) {
    CheckingHost& h = Self(context);
    Check(h.phase_ == Phase::kChained, "putLabelledList out of order");
    Check(label != nullptr && std::strcmp(label, "Drill block") == 0, "wrong label");
    Check(list != nullptr && list->sentinel != nullptr, "no list");
    if (h.list_ == nullptr) h.list_ = list;
    Check(h.list_ == list, "the list object moved");
    const std::vector<Selection>& want = h.expected_->handed;
    Check(list->count == want.size(), "list count differs from the model");
    const SelectionNode* sentinel = list->sentinel;
    const SelectionNode* node = sentinel;
    for (const Selection& s : want) {
      const SelectionNode* next = node->next;
      Check(next != sentinel && next->prev == node, "list links broken going forward");
      Check(next->selection.slot == s.slot && next->selection.requested == s.requested,
            "a Selection differs from the model");
      node = next;
    }
    Check(node->next == sentinel && sentinel->prev == node, "the list does not close its circle");
    h.phase_ = Phase::kListed;
  }

  static void EndBlock(void* context) {
    CheckingHost& h = Self(context);
    Check(h.phase_ == Phase::kListed, "endBlock out of order");
    h.phase_ = Phase::kEnded;
  }

  HostCallbacks table_{};
  const ncdrill_model::Interpreter& model_;
  const ncdrill_model::Outcome* expected_ = nullptr;
  Phase phase_ = Phase::kIdle;
  int definitionPaths_ = 0;
  std::vector<const ChainRecord*> addresses_;
  const SelectionList* list_ = nullptr;
};

// The explainer comes to what the model (and so the plug-in) does.
void CheckExplanation(ncdrill::BlockExplainer& explainer, const char* text, std::size_t length,
                      const ncdrill_model::Outcome& expected) {
  ncdrill::BlockExplanation explanation;
  explainer.Explain(text, length, explanation);
  Check(explanation.result == expected.result, "the explainer's result differs from the model");
  Check((explanation.trigger != ncdrill::kNoPosition) == expected.drill,
        "the explainer's drill block differs from the model");
  if (!expected.drill) return;
  Check(explainer.table().terminalNumber() == expected.terminal,
        "the explainer's terminal number differs from the model");
  const std::vector<ChainRecord>& records = explainer.table().records();
  Check(records.size() == expected.values.size(), "the explainer's table differs from the model");
  for (std::size_t i = 0; i < records.size(); ++i) {
    Check(records[i].value == expected.values[i], "an explainer's value differs from the model");
  }
  Check(explanation.handedOver.size() == expected.handed.size(),
        "the explainer hands over other Selections than the model");
  for (std::size_t i = 0; i < expected.handed.size(); ++i) {
    Check(explanation.handedOver[i].slot == expected.handed[i].slot &&
              explanation.handedOver[i].requested == expected.handed[i].requested,
          "the explainer hands over other Selections than the model");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string copy = ncdrill_fuzz::ScratchFolder() + "ncdrill.so";
  std::error_code error;
  std::filesystem::copy_file(NCDRILL_PLUGIN_FILE, copy, error);
  if (error) ncdrill_fuzz::Fail("cannot copy the plug-in");
  void* handle = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) ncdrill_fuzz::Fail("cannot load the plug-in");
  getInterpreter = reinterpret_cast<GetInterpreterFn>(dlsym(handle, "GetInterpreter"));
  if (getInterpreter == nullptr) ncdrill_fuzz::Fail("the plug-in has no GetInterpreter");
  return 0;  // the plug-in stays loaded for the whole run
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string_view tableBytes = input;
  std::string_view blocks;
  bool haveBlocks = false;
  const std::string_view separator = "\n%%\n";
  if (input.substr(0, 3) == "%%\n") {
    tableBytes = {};
    blocks = input.substr(3);
    haveBlocks = true;
  } else if (const std::size_t at = input.find(separator); at != std::string_view::npos) {
    tableBytes = input.substr(0, at + 1);
    blocks = input.substr(at + separator.size());
    haveBlocks = true;
  }
  ncdrill_fuzz::WriteScratchFile("VONDRIX_4.txt", tableBytes);

  ncdrill_model::Interpreter model(ncdrill_model::ReadTable(tableBytes));
  CheckingHost host(model);
  host.BeginCreation();
  std::unique_ptr<Interpreter> interpreter(getInterpreter(host.table(), nullptr, nullptr));
  host.EndCreation();
  Check(interpreter != nullptr, "GetInterpreter returned null with memory to spare");
  Check(interpreter->host == host.table(), "the interpreter does not keep the host's table");
  ncdrill::BlockExplainer explainer(
      ncdrill::ReadTableEntries((ncdrill_fuzz::ScratchFolder() + "VONDRIX_4.txt").c_str()));

  while (haveBlocks) {
    const std::size_t newline = blocks.find('\n');
    const std::string_view line = blocks.substr(0, newline);
    haveBlocks = newline != std::string_view::npos;
    if (haveBlocks) blocks.remove_prefix(newline + 1);

    const std::size_t bar = line.find('|');
    const std::size_t length = bar == std::string_view::npos ? line.size() : bar;
    // Exactly the line's bytes, so that a read past the buffer shows.
    std::unique_ptr<char[]> buffer(line.empty() ? nullptr : new char[line.size()]);
    if (!line.empty()) std::memcpy(buffer.get(), line.data(), line.size());

    const std::string_view examined = line.substr(0, length).substr(0, line.find('\0'));
    const ncdrill_model::Outcome expected = model.Block(examined);
    host.BeginBlock(&expected);
    const bool result =
        interpreter->InterpretBlock(buffer.get(), static_cast<std::int32_t>(length));
    host.EndBlock();
    Check(result == expected.result, "the block's result differs from the model");
    CheckExplanation(explainer, buffer.get(), length, expected);
  }
  return 0;
}
