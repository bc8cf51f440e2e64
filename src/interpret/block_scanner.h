// The first half of InterpretBlock: tool requests, "G52" and units.
#ifndef NCDRILL_INTERPRET_BLOCK_SCANNER_H
#define NCDRILL_INTERPRET_BLOCK_SCANNER_H

#include <cstdint>
#include <optional>
#include <string_view>

#include "interpret/selection_store.h"
#include "table/definition_table.h"

namespace ncdrill {

// The text InterpretBlock examines: `length` characters at `text`, cut at
// the first NUL. A null text or a negative length gives an empty block.
std::string_view ExaminedBlock(const char* text, std::int32_t length) noexcept;

// The value of the block's tool request: the digits after the first "T",
// when a digit follows it and no "(" comes before it. Saturates at INT32_MAX.
std::optional<std::int32_t> FindToolRequest(std::string_view block) noexcept;

// The units after this block: G20 selects inch, G21 metric; only the first
// "G2" of the block is looked at.
bool FollowUnits(std::string_view block, bool unitsInch) noexcept;

// Scans one block: appends the Selections of its tool request (a single
// request, or an "M9" mask over 301 to 314) resolved against `table`, and
// updates `unitsInch`. Returns true for an accepted tool request or "G52".
// A Selection that finds no memory is dropped.
bool ScanBlock(std::string_view block, const DefinitionTable& table, SelectionStore& selections,
               bool& unitsInch) noexcept;

}  // namespace ncdrill

#endif
