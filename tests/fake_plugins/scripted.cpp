// A stand-in plug-in whose drill blocks are shaped by the block text, for
// testing hosts on shapes the real plug-in cannot make (a chain without
// table records) or makes only slowly (very long lists).
//
// A block "R S" delivers a drill block of R records numbered 1 to R (the
// terminal record numbered -R) and S Selections (slot i, requested 1000 + i);
// any other block delivers nothing. Every block returns true.
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "ncdrill/ncdrill.h"

namespace {

int liveInterpreters = 0;

class ScriptedInterpreter final : public Interpreter {
 public:
  explicit ScriptedInterpreter(HostCallbacks* callbacks) : Interpreter(callbacks) {
    ++liveInterpreters;
    sentinel_.next = sentinel_.prev = &sentinel_;
    list_.sentinel = &sentinel_;
  }
  ~ScriptedInterpreter() override { --liveInterpreters; }

  bool InterpretBlock(const char* text, std::int32_t length) override {
    const std::string block(text, static_cast<std::size_t>(length));
    char* rest = nullptr;
    const long records = std::strtol(block.c_str(), &rest, 10);
    if (rest == block.c_str() || records < 0) return true;
    const long selections = std::strtol(rest, nullptr, 10);
    Deliver(static_cast<int>(records), static_cast<int>(selections < 0 ? 0 : selections));
    return true;
  }

 private:
  void Deliver(int records, int selections) {
    std::vector<ChainRecord> chain(static_cast<std::size_t>(records) + 1);
    for (int i = 0; i <= records; ++i) {
      chain[i] = ChainRecord{i < records ? i + 1 : -records, 0.0f,
                             i < records ? &chain[static_cast<std::size_t>(i) + 1] : nullptr};
    }
    std::vector<SelectionNode> nodes(static_cast<std::size_t>(selections));
    SelectionNode* last = &sentinel_;
    for (SelectionNode& node : nodes) {
      node.selection = Selection{static_cast<std::int32_t>(&node - nodes.data()),
                                 1000 + static_cast<std::int32_t>(&node - nodes.data())};
      node.prev = last;
      last->next = &node;
      last = &node;
    }
    last->next = &sentinel_;
    sentinel_.prev = last;
    list_.count = static_cast<std::uint32_t>(selections);
    host->putRecordChain(host->context, chain.data());
    host->putLabelledList(host->context, "Drill block", &list_);
    host->endBlock(host->context);
    sentinel_.next = sentinel_.prev = &sentinel_;
    list_.count = 0;
  }

  SelectionNode sentinel_{};
  SelectionList list_{};
};

}  // namespace

extern "C" __attribute__((visibility("default"))) Interpreter* GetInterpreter(
    HostCallbacks* host, const char* definitionFileName, const char*) {
  const std::string path =
      std::string("scripted/") + (definitionFileName ? definitionFileName : "");
  host->putDefinitionPath(host->context, path.c_str());
  return new ScriptedInterpreter(host);
}

// How many interpreters of this library are alive.
extern "C" __attribute__((visibility("default"))) int ScriptedLiveInterpreters() {
  return liveInterpreters;
}
