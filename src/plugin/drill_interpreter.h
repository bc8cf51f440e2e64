// The one implementation of Interpreter.
#ifndef NCDRILL_PLUGIN_DRILL_INTERPRETER_H
#define NCDRILL_PLUGIN_DRILL_INTERPRETER_H

#include <cstdint>
#include <string>

#include "interpret/block_path.h"
#include "ncdrill/ncdrill.h"
#include "platform/module_folder.h"

namespace ncdrill {

constexpr const char* kDefaultDefinitionFileName = "VONDRIX_4.xml";
constexpr const char* kDefaultTableFileName = "VONDRIX_4.txt";

class DrillInterpreter final : public Interpreter {
 public:
  explicit DrillInterpreter(HostCallbacks* callbacks) noexcept : Interpreter(callbacks) {}
  ~DrillInterpreter() override = default;

  // Construction after the object exists: settles the file names, finds the
  // library's folder, hands the host the definition path and loads the
  // table. Throws std::bad_alloc when memory runs out, and passes on what
  // the host's putDefinitionPath throws.
  void SetUp(const char* definitionFileName, const char* tableFileName);
  // SetUp for GetInterpreter, which hands out no half-made interpreter:
  // false when memory ran out.
  bool TrySetUp(const char* definitionFileName, const char* tableFileName) noexcept;

  bool InterpretBlock(const char* text, std::int32_t length) override;

 private:
  BlockState state_;
  platform::ModuleFolder folder_;
  std::string definitionFileName_;
  std::string tableFileName_;
};

}  // namespace ncdrill

#endif
