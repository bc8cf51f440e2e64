// The first half of InterpretBlock: tool requests, "G52" and units.
#ifndef NCDRILL_INTERPRET_BLOCK_SCANNER_H
#define NCDRILL_INTERPRET_BLOCK_SCANNER_H

#include <cstdint>
#include <string_view>

#include "interpret/block_matcher.h"
#include "interpret/selection_store.h"
#include "table/definition_table.h"

namespace ncdrill {

// The characters InterpretBlock may read: `length` characters at `text`. A
// null text or a negative length gives an empty block.
std::string_view HostBlock(const char* text, std::int32_t length) noexcept;

// Whether the block's first "T" makes a tool request: a digit follows it
// and no "(" comes before it. Sets `value` to the digits after it, read as
// a 32-bit atol that clamps.
bool AcceptedToolWord(std::string_view block, const BlockFacts& facts,
                      std::int32_t& value) noexcept;

// What the "G2" at `g2` selects: G20 inch and G21 metric, when the
// character after them is not a digit (the end of the block is not a digit).
enum class UnitCode { kNone, kInch, kMetric };
UnitCode UnitCodeAt(std::string_view block, std::size_t g2) noexcept;

// Scans one block, whose text before its first NUL is `block` and whose
// facts the matcher found: appends the Selections of its tool request (a
// single request, or an "M9" mask over 301 to 314) resolved against
// `table`, and updates `unitsInch` (G20 inch, G21 metric; only the first
// "G2" counts). Returns true for an accepted tool request or "G52". A
// Selection that finds no memory is dropped.
bool ScanBlock(std::string_view block, const BlockFacts& facts, const DefinitionTable& table,
               SelectionStore& selections, bool& unitsInch) noexcept;

}  // namespace ncdrill

#endif
