// The second half of InterpretBlock: finding a trigger name in the block and
// delivering the drill block to the host.
#ifndef NCDRILL_INTERPRET_DRILL_TRIGGER_H
#define NCDRILL_INTERPRET_DRILL_TRIGGER_H

#include "interpret/selection_store.h"
#include "ncdrill/ncdrill.h"
#include "table/definition_table.h"

namespace ncdrill {

// Delivers the drill block of `trigger`: stores minus its number in the
// terminal record, sets every record's value (0.0 for a record some Selection
// names, else five inches in the current units), calls putRecordChain,
// putLabelledList ("Drill block") and endBlock, and then removes the
// Selections. Exceptions from host callbacks pass through; the Selections
// are removed all the same.
void DeliverDrillBlock(const TableEntry& trigger, bool unitsInch, DefinitionTable& table,
                       SelectionStore& selections, const HostCallbacks* host);

}  // namespace ncdrill

#endif
