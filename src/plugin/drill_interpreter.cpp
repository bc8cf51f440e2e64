#include "plugin/drill_interpreter.h"

#include <exception>

#include "interpret/host_calls.h"
#include "platform/input_file.h"

namespace ncdrill {
namespace {

const char* NameOrDefault(const char* name, const char* fallback) noexcept {
  return name != nullptr && name[0] != '\0' ? name : fallback;
}

}  // namespace

void DrillInterpreter::SetUp(const char* definitionFileName, const char* tableFileName) {
  definitionFileName_ = NameOrDefault(definitionFileName, kDefaultDefinitionFileName);
  tableFileName_ = NameOrDefault(tableFileName, kDefaultTableFileName);
  folder_ = platform::FindModuleFolder();
  // Names are appended as they stand, even absolute ones.
  {
    const std::string definitionPath = folder_.text + definitionFileName_;
    CallPutDefinitionPath(host, definitionPath.c_str());
  }
  platform::InputFile tableFile(folder_.native + platform::NativePathFrom8Bit(tableFileName_));
  state_.table.Load(tableFile);
  state_.matcher.Build(state_.table.entries());
  state_.selections.Reserve();
}

bool DrillInterpreter::TrySetUp(const char* definitionFileName,
                                const char* tableFileName) noexcept {
  try {
    SetUp(definitionFileName, tableFileName);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool DrillInterpreter::InterpretBlock(const char* text, std::int32_t length) {
  // The host's buffer is only read, never copied: the block is examined where it lies.
  return state_.Interpret(host, text, length);
}

}  // namespace ncdrill
