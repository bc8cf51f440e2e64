// A plug-in built to differ from ncdrill.so: it takes a lowercase "t" as a
// tool request, and delivers its own drill block, a record 4242, for every
// block that holds "DRILL". The replay tool must show what this plug-in
// does, and its explanations must catch where it parts from ncdrill.
#include <string_view>

#include "fake_plugins/fake_export.h"
#include "ncdrill/ncdrill.h"

namespace {

class Contrary final : public Interpreter {
 public:
  explicit Contrary(HostCallbacks* callbacks) : Interpreter(callbacks) {}

  bool InterpretBlock(const char* text, std::int32_t length) override {
    const std::string_view block(text, length > 0 ? static_cast<std::size_t>(length) : 0);
    if (block.find("DRILL") != std::string_view::npos) Deliver();
    return block.find_first_of("Tt") != std::string_view::npos;
  }

 private:
  void Deliver() {
    host->putRecordChain(host->context, &record_);
    host->putLabelledList(host->context, "Drill block", &list_);
    host->endBlock(host->context);
  }

  ChainRecord terminal_{-4242, 0.0f, nullptr};
  ChainRecord record_{4242, 1.5f, &terminal_};
  SelectionNode sentinel_{&sentinel_, &sentinel_, Selection{0, 0}};
  SelectionList list_{nullptr, &sentinel_, 0};
};

}  // namespace

NCDRILL_FAKE_EXPORT Interpreter* GetInterpreter(HostCallbacks* host, const char*, const char*) {
  return new Contrary(host);
}
