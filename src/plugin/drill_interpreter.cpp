#include "plugin/drill_interpreter.h"

#include <exception>
#include <string_view>

#include "interpret/block_scanner.h"
#include "interpret/drill_trigger.h"

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
  table_.Load(tableFile);
  matcher_.Build(table_.entries());
  selections_.Reserve();
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
  const std::string_view hostBlock = HostBlock(text, length);
  BlockFacts facts;
  if (!matcher_.Examine(hostBlock.data(), hostBlock.size(), facts)) return false;
  const std::string_view block = hostBlock.substr(0, facts.length);
  const bool result = ScanBlock(block, facts, table_, selections_, unitsInch_);
  if (facts.trigger != BlockFacts::kNone) {
    DeliverDrillBlock(table_.entries()[facts.trigger], unitsInch_, table_, selections_, host);
  }
  return result;
}

}  // namespace ncdrill
