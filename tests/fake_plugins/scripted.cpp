// A stand-in plug-in whose drill blocks are shaped by the block text, for
// testing hosts on shapes the real plug-in cannot make (a chain without
// table records) or makes only slowly (very long lists).
//
// A block "R S" delivers a drill block of R records numbered 1 to R (the
// terminal record numbered -R) and S Selections (slot i, requested 1000 + i);
// any other block delivers nothing. Every block returns true.
#include <cstdlib>
#include <string>
#include <vector>

#include "fake_plugins/fake_export.h"
#include "ncdrill/ncdrill.h"

namespace {

int liveInterpreters = 0;

// What the stand-in does, whatever object model the host sees it through.
class Script {
 public:
  Script() noexcept {
    ++liveInterpreters;
    sentinel_.next = sentinel_.prev = &sentinel_;
    list_.sentinel = &sentinel_;
  }
  ~Script() { --liveInterpreters; }
  Script(const Script&) = delete;
  Script& operator=(const Script&) = delete;

  bool InterpretBlock(const HostCallbacks* host, const char* text, std::int32_t length) {
    const std::string block(text, static_cast<std::size_t>(length));
    char* rest = nullptr;
    const long records = std::strtol(block.c_str(), &rest, 10);
    if (rest == block.c_str() || records < 0) return true;
    const long selections = std::strtol(rest, nullptr, 10);
    Deliver(host, static_cast<int>(records), static_cast<int>(selections < 0 ? 0 : selections));
    return true;
  }

 private:
  void Deliver(const HostCallbacks* host, int records, int selections) {
    std::vector<ChainRecord> chain(static_cast<std::size_t>(records) + 1);
    for (int i = 0; i <= records; ++i) {
      chain[i] = ChainRecord{i < records ? i + 1 : -records, 0.0f,
                             i < records ? &chain[static_cast<std::size_t>(i) + 1] : nullptr};
    }
    std::vector<SelectionNode> nodes(static_cast<std::size_t>(selections));
    SelectionNode* last = &sentinel_;
    for (SelectionNode& node : nodes) {
      const auto i = static_cast<std::int32_t>(&node - nodes.data());
      node.selection = Selection{i, 1000 + i};
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

#if defined(_WIN32)
// Windows hosts call the object as the Microsoft compiler lays it out: the
// scalar deleting destructor and InterpretBlock, then `host`.
class Scripted final {
 public:
  explicit Scripted(HostCallbacks* callbacks) noexcept : host(callbacks) {}
  virtual void* ScalarDeletingDestructor(unsigned int flags) noexcept {
    if ((flags & 1) != 0) {
      delete this;
    } else {
      this->~Scripted();
    }
    return this;
  }
  virtual bool InterpretBlock(const char* text, std::int32_t length) {
    return script_.InterpretBlock(host, text, length);
  }
  HostCallbacks* host;

 private:
  Script script_;
};

Interpreter* AsInterpreter(Scripted* scripted) { return reinterpret_cast<Interpreter*>(scripted); }
#else
class Scripted final : public Interpreter {
 public:
  explicit Scripted(HostCallbacks* callbacks) noexcept : Interpreter(callbacks) {}
  bool InterpretBlock(const char* text, std::int32_t length) override {
    return script_.InterpretBlock(host, text, length);
  }

 private:
  Script script_;
};

Interpreter* AsInterpreter(Scripted* scripted) { return scripted; }
#endif

}  // namespace

NCDRILL_FAKE_EXPORT Interpreter* NCDRILL_CDECL GetInterpreter(HostCallbacks* host,
                                                              const char* definitionFileName,
                                                              const char*) {
  const std::string path =
      std::string("scripted/") + (definitionFileName != nullptr ? definitionFileName : "");
  host->putDefinitionPath(host->context, path.c_str());
  return AsInterpreter(new Scripted(host));
}

// How many interpreters of this library are alive.
NCDRILL_FAKE_EXPORT int ScriptedLiveInterpreters() { return liveInterpreters; }
