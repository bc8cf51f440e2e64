// What InterpretBlock works on, and the parts of a block path (BlockPathFn)
// around its scan.
#ifndef NCDRILL_INTERPRET_BLOCK_PATH_H
#define NCDRILL_INTERPRET_BLOCK_PATH_H

#include <cstdint>
#include <string_view>

#include "interpret/block_matcher.h"
#include "interpret/block_scanner.h"
#include "interpret/drill_trigger.h"
#include "interpret/selection_store.h"
#include "interpret/vector_scan.h"
#include "ncdrill/ncdrill.h"
#include "table/definition_table.h"

namespace ncdrill {

// The interpreter's state between blocks; the interpreter owns it.
struct BlockState {
  bool unitsInch = false;  // G20 seen last (else G21, or neither yet)
  SelectionStore selections;
  DefinitionTable table;
  BlockMatcher matcher;  // built from `table`

  // InterpretBlock: `length` characters at `text`, handed to `host`.
  bool Interpret(const HostCallbacks* host, const char* text, std::int32_t length) {
    return matcher.path()(*this, host, text, length);
  }

  // How a block path begins: the characters it may read.
  NCDRILL_INLINE std::string_view Begin(const char* text, std::int32_t length) noexcept {
    matcher.BeginBlock();
    return HostBlock(text, length);
  }

  // How it ends, once its scan found something in `hostBlock`: requests,
  // units and the drill block. Returns InterpretBlock's result.
  NCDRILL_INLINE bool Finish(std::string_view hostBlock, const BlockFacts& facts,
                             const HostCallbacks* host) {
    if (!facts.MayAct()) return false;
    const std::string_view block = hostBlock.substr(0, facts.length);
    const bool result = ScanBlock(block, facts, table, selections, unitsInch);
    if (facts.trigger != BlockFacts::kNone) {
      DeliverDrillBlock(table.entries()[facts.trigger], unitsInch, table, selections, host);
    }
    return result;
  }
};

// The characters of a block as a scan takes them.
NCDRILL_INLINE const unsigned char* ScanBytes(std::string_view block) noexcept {
  return reinterpret_cast<const unsigned char*>(block.data());
}

}  // namespace ncdrill

#endif
