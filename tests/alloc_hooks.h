// Replacements of the global allocation functions for the test programs that
// link alloc_hooks.cpp. The plug-in, loaded into such a program, allocates
// through them too, so tests can count its allocations or make one fail.
#ifndef NCDRILL_TESTS_ALLOC_HOOKS_H
#define NCDRILL_TESTS_ALLOC_HOOKS_H

#include <cstddef>
#include <string>

namespace ncdrill_test {

// Allocations made through operator new (any form) since the program started.
std::size_t AllocationCount();

// Makes the k-th allocation from now fail (k = 1 is the next one); 0 disarms.
// A failing throwing new throws std::bad_alloc, a nothrow new returns null.
void FailAllocation(std::size_t k);

// True when the armed failure has happened.
bool AllocationFailed();

// Blocks allocated through operator new and not yet deleted.
std::size_t LiveAllocations();

// The plug-in file whose allocations these hooks see. On Linux the built
// plug-in, which allocates through the program's operator new. A Windows DLL
// links its own runtime, so there it is a test build of the plug-in that
// sends its allocations to the program's hooks.
std::string CountedPluginFile();

}  // namespace ncdrill_test

#endif
