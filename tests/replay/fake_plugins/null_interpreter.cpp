// A plug-in whose GetInterpreter has no memory to give: returns null, as
// ncdrill.so does when allocation fails.
#include "fake_plugins/fake_export.h"
#include "ncdrill/ncdrill.h"

NCDRILL_FAKE_EXPORT Interpreter* NCDRILL_CDECL GetInterpreter(HostCallbacks*, const char*,
                                                              const char*) {
  return nullptr;
}
