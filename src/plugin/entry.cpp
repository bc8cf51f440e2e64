// The plug-in's one exported function. Here hosts and the plug-in share one
// object model (the Itanium C++ ABI of g++ and clang), so the
// DrillInterpreter itself is the host's Interpreter.
#include <memory>
#include <new>

#include "ncdrill/ncdrill.h"
#include "plugin/drill_interpreter.h"

extern "C" NCDRILL_EXPORT Interpreter* NCDRILL_CDECL GetInterpreter(HostCallbacks* host,
                                                                    const char* definitionFileName,
                                                                    const char* tableFileName) {
  std::unique_ptr<ncdrill::DrillInterpreter> interpreter(new (std::nothrow)
                                                             ncdrill::DrillInterpreter(host));
  if (!interpreter || !interpreter->TrySetUp(definitionFileName, tableFileName)) return nullptr;
  return interpreter.release();
}
