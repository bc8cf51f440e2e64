// The build's NCDRILL_VECTOR_UNIT, in a file of its own so that a plug-in
// per unit shares every other object.
#include "interpret/vector_scan.h"

namespace ncdrill {

VectorUnit HighestAllowedUnit() noexcept {
  // Read, not folded in at link time: every unit's code stays in every
  // build, so that the plug-ins built per unit differ in this value alone
  // and a path they share runs from the same addresses in each of them.
  static const volatile int cap = NCDRILL_VECTOR_UNIT_CAP;
  return static_cast<VectorUnit>(cap);
}

}  // namespace ncdrill
