// Built only into the counted test copy of ncdrill.dll. The DLL links its own
// C++ runtime, so the test program's replacement operator new never sees
// its allocations, as it does the Linux plug-in's. Here the DLL's operator
// new and delete go to the program's counting functions instead (exported
// by alloc_hooks.cpp), so the allocation tests count and fail the same
// allocations on every system. Aligned forms stay with the runtime, as on
// Linux, where the program does not replace them either.
#include <windows.h>

#include <cstdlib>
#include <new>

namespace {

using AllocateFn = void* (*)(std::size_t);
using FreeFn = void (*)(void*);

struct ProgramHooks {
  AllocateFn allocate;
  FreeFn free;
};

template <typename Function>
Function ProgramFunction(const char* name) {
  // FARPROC stands for any function: the cast says which one this is.
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), name)));
}

const ProgramHooks& Hooks() {
  static const ProgramHooks hooks{ProgramFunction<AllocateFn>("ncdrill_test_allocate"),
                                  ProgramFunction<FreeFn>("ncdrill_test_free")};
  return hooks;
}

void* Allocate(std::size_t size) noexcept {
  const ProgramHooks& hooks = Hooks();
  if (hooks.allocate != nullptr && hooks.free != nullptr) return hooks.allocate(size);
  return std::malloc(size == 0 ? 1 : size);
}

void Free(void* p) noexcept {
  const ProgramHooks& hooks = Hooks();
  if (hooks.allocate != nullptr && hooks.free != nullptr) {
    hooks.free(p);
  } else {
    std::free(p);
  }
}

void* AllocateOrThrow(std::size_t size) {
  void* p = Allocate(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { Free(p); }
void operator delete[](void* p) noexcept { Free(p); }
void operator delete(void* p, std::size_t) noexcept { Free(p); }
void operator delete[](void* p, std::size_t) noexcept { Free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Free(p); }
