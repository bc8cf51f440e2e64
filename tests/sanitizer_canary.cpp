// Deliberate faults that the sanitizer builds must catch, so that a quietly
// weakened sanitizer set-up fails the suite instead of passing it:
//   leak <plugin>  loads the plug-in, drops an interpreter and unloads the
//                  plug-in (LeakSanitizer must still see the lost object);
//   overflow       a signed overflow in code built with the project's options
//                  (UndefinedBehaviorSanitizer must stop the program there).
#include <dlfcn.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ncdrill/ncdrill.h"

namespace {

int Leak(const char* plugin) {
  void* handle = dlopen(plugin, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return 2;
  const auto getInterpreter = reinterpret_cast<GetInterpreterFn>(dlsym(handle, "GetInterpreter"));
  if (getInterpreter == nullptr) return 2;
  HostCallbacks host{};
  Interpreter* volatile lost = getInterpreter(&host, nullptr, nullptr);
  if (lost == nullptr) return 2;
  lost = nullptr;
  dlclose(handle);
  return 0;
}

// Zeroes the stack below the caller's frame. The calls that made the lost
// interpreter leave its address behind there, and LeakSanitizer, which
// scans stacks for anything that looks like an address, would take such a
// leftover for a live reference when the exit path reuses that stack.
__attribute__((noinline)) void ClearStackBelow() {
  volatile char area[256 * 1024];
  for (volatile char& byte : area) byte = 0;
}

int Overflow(int argc) {
  volatile int big = INT_MAX - 1 + argc;  // INT_MAX with the one argument given
  const int sum = big + 1;
  std::printf("%d\n", sum);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "leak") == 0) {
    const int status = Leak(argv[2]);
    ClearStackBelow();
    return status;
  }
  if (argc == 2 && std::strcmp(argv[1], "overflow") == 0) return Overflow(argc - 1);
  return 2;
}
