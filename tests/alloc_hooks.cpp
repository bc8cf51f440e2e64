#include "alloc_hooks.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "plugin_host.h"

namespace ncdrill_test {
namespace {
std::atomic<std::size_t> allocations{0};
std::atomic<std::size_t> failAt{0};  // allocation number that fails; 0: none
std::atomic<bool> failed{false};
std::atomic<std::size_t> live{0};

void* Allocate(std::size_t size) noexcept {
  const std::size_t n = ++allocations;
  const std::size_t target = failAt.load();
  if (target != 0 && n == target) {
    failed = true;
    return nullptr;
  }
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p != nullptr) ++live;
  return p;
}

void Free(void* p) noexcept {
  if (p == nullptr) return;
  --live;
  std::free(p);
}

void* AllocateOrThrow(std::size_t size) {
  void* p = Allocate(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
}  // namespace

std::size_t AllocationCount() { return allocations.load(); }

void FailAllocation(std::size_t k) {
  failed = false;
  failAt = k == 0 ? 0 : allocations.load() + k;
}

bool AllocationFailed() { return failed.load(); }

std::size_t LiveAllocations() { return live.load(); }

std::string CountedPluginFile() {
#if defined(NCDRILL_COUNTED_PLUGIN_FILE)
  return NCDRILL_COUNTED_PLUGIN_FILE;
#else
  return BuiltPluginFile();
#endif
}

}  // namespace ncdrill_test

#if defined(_WIN32)
// Where the counted test build of the DLL sends its allocations
// (forward_allocations_windows.cpp). They never throw: an exception could
// not pass from this program's runtime into the DLL's.
extern "C" __declspec(dllexport) void* ncdrill_test_allocate(std::size_t size) noexcept {
  return ncdrill_test::Allocate(size);
}
extern "C" __declspec(dllexport) void ncdrill_test_free(void* p) noexcept { ncdrill_test::Free(p); }
#endif

void* operator new(std::size_t size) { return ncdrill_test::AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return ncdrill_test::AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return ncdrill_test::Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return ncdrill_test::Allocate(size);
}
void operator delete(void* p) noexcept { ncdrill_test::Free(p); }
void operator delete[](void* p) noexcept { ncdrill_test::Free(p); }
void operator delete(void* p, std::size_t) noexcept { ncdrill_test::Free(p); }
void operator delete[](void* p, std::size_t) noexcept { ncdrill_test::Free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { ncdrill_test::Free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { ncdrill_test::Free(p); }
