// GetInterpreter for Windows hosts, which are built with the Microsoft C++
// compiler and so call the interpreter through its object model, not g++'s.
//
// What such a host expects of the `Interpreter*` it receives:
//   - offset 0: the virtual table pointer; offset 4 (32-bit) or 8 (64-bit):
//     `host`, which the host may read or write;
//   - virtual table slot 0: the scalar deleting destructor,
//     `void* (unsigned int flags)`. `delete p` calls it with bit 0 of flags
//     set: destroy the object and free its memory, with the allocator of the
//     module that made it. An explicit `p->~Interpreter()` calls it with
//     bit 0 clear: destroy only. It returns `this`;
//   - slot 1: `bool InterpretBlock(const char*, std::int32_t)`.
//   Both are thiscall in 32-bit builds (`this` in ECX, the callee removes
//   the arguments); the result is one byte, in AL.
//
// g++ lays out a virtual destructor in two slots, so DrillInterpreter itself
// cannot be handed out. HostInterpreter is laid out as the host expects: it
// has two virtual functions and no virtual destructor, so its virtual table
// holds exactly those two slots (mingw's g++ makes member functions
// thiscall on i386, as the Microsoft compiler does); the object holds the
// table's pointer, then `host`, then the one DrillInterpreter that does the
// work.
#include <cstdint>
#include <memory>
#include <new>

#include "ncdrill/ncdrill.h"
#include "plugin/drill_interpreter.h"

namespace ncdrill {
namespace {

class HostInterpreter final {
 public:
  explicit HostInterpreter(HostCallbacks* callbacks) noexcept
      : host(callbacks), interpreter_(callbacks) {}

  // Slot 0.
  virtual void* ScalarDeletingDestructor(unsigned int flags) noexcept {
    constexpr unsigned int kFreeMemory = 1;
    if ((flags & kFreeMemory) != 0) {
      delete this;
    } else {
      this->~HostInterpreter();
    }
    return this;
  }

  // Slot 1. The host's object has one `host` field: a host that changed it
  // since the last call is followed, as on every other system.
  virtual bool InterpretBlock(const char* text, std::int32_t length) noexcept {
    interpreter_.host = host;
    return interpreter_.InterpretBlock(text, length);
  }

  DrillInterpreter& interpreter() noexcept { return interpreter_; }

  // Read and written by the host, at the offset the header gives Interpreter::host.
  HostCallbacks* host;

 private:
  DrillInterpreter interpreter_;
};

}  // namespace
}  // namespace ncdrill

extern "C" NCDRILL_EXPORT Interpreter* NCDRILL_CDECL GetInterpreter(HostCallbacks* host,
                                                                    const char* definitionFileName,
                                                                    const char* tableFileName) {
  std::unique_ptr<ncdrill::HostInterpreter> object(new (std::nothrow)
                                                       ncdrill::HostInterpreter(host));
  if (!object || !object->interpreter().TrySetUp(definitionFileName, tableFileName)) {
    return nullptr;
  }
  // The host sees the object through the header's Interpreter, laid out as above.
  return reinterpret_cast<Interpreter*>(object.release());
}
