// The build's NCDRILL_VECTOR_UNIT, in a file of its own so that a plug-in
// per unit shares every other object.
#include "interpret/vector_scan.h"

namespace ncdrill {

VectorUnit HighestAllowedUnit() noexcept {
  return static_cast<VectorUnit>(NCDRILL_VECTOR_UNIT_CAP);
}

}  // namespace ncdrill
