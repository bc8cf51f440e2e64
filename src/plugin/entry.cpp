// The plug-in's one exported function.
#include <exception>
#include <memory>
#include <new>

#include "ncdrill/ncdrill.h"
#include "plugin/drill_interpreter.h"

extern "C" NCDRILL_EXPORT Interpreter* GetInterpreter(HostCallbacks* host,
                                                      const char* definitionFileName,
                                                      const char* tableFileName) {
  std::unique_ptr<ncdrill::DrillInterpreter> interpreter(new (std::nothrow)
                                                             ncdrill::DrillInterpreter(host));
  if (!interpreter) return nullptr;
  try {
    interpreter->SetUp(definitionFileName, tableFileName);
  } catch (const std::exception&) {
    return nullptr;  // memory ran out: nothing of the interpreter is kept
  }
  return interpreter.release();
}
