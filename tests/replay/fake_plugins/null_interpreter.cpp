// A plug-in whose GetInterpreter has no memory to give: returns null, as
// ncdrill.so does when allocation fails.
#include "ncdrill/ncdrill.h"

extern "C" __attribute__((visibility("default"))) Interpreter* GetInterpreter(HostCallbacks*,
                                                                              const char*,
                                                                              const char*) {
  return nullptr;
}
