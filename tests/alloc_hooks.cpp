#include "alloc_hooks.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace ncdrill_test {
namespace {
std::atomic<std::size_t> allocations{0};
std::atomic<std::size_t> failAt{0};  // allocation number that fails; 0: none
std::atomic<bool> failed{false};

void* Allocate(std::size_t size) noexcept {
  const std::size_t n = ++allocations;
  const std::size_t target = failAt.load();
  if (target != 0 && n == target) {
    failed = true;
    return nullptr;
  }
  return std::malloc(size == 0 ? 1 : size);
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

}  // namespace ncdrill_test

void* operator new(std::size_t size) { return ncdrill_test::AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return ncdrill_test::AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return ncdrill_test::Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return ncdrill_test::Allocate(size);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
