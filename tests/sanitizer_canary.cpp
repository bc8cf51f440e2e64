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

int Overflow(int argc) {
  volatile int big = INT_MAX - 1 + argc;  // INT_MAX with the one argument given
  const int sum = big + 1;
  std::printf("%d\n", sum);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "leak") == 0) return Leak(argv[2]);
  if (argc == 2 && std::strcmp(argv[1], "overflow") == 0) return Overflow(argc - 1);
  return 2;
}
