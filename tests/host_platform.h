// What the test hosts need from the operating system, the same way on every
// system: scratch folders, loading a library and finding a function in it.
#ifndef NCDRILL_TESTS_HOST_PLATFORM_H
#define NCDRILL_TESTS_HOST_PLATFORM_H

#include <string>

namespace ncdrill_test {

// The file name of the plug-in on this system: ncdrill.so or ncdrill.dll.
const char* PluginFileName();

// The separator the system writes between folders ('/' or '\'). The plug-in
// reports its folder in the system's own spelling.
char PathSeparator();

// Makes a new, empty folder under the system's temporary folder, whose name
// starts with `prefix`. Returns its path ending with PathSeparator(). Throws
// std::runtime_error when it cannot.
std::string MakeScratchFolder(const std::string& prefix);

// The process's resident memory (working set) now, and its peak so far, in
// KiB.
long ResidentKiB();
long PeakResidentKiB();

// Whether the library at `path` is loaded in this process now, and an
// exported function of it (null when it is not loaded or has none). Neither
// loads it nor keeps it loaded.
bool IsLoaded(const std::string& path);
void* FindInLoaded(const std::string& path, const char* name);

// A library loaded by `path` as a host loads the plug-in (dlopen with
// RTLD_NOW | RTLD_LOCAL, or LoadLibrary). Throws std::runtime_error with the
// loader's message when it cannot be loaded.
class Library {
 public:
  explicit Library(const std::string& path);
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  // The exported function `name`, or null.
  void* Find(const char* name) const;

 private:
  void* handle_ = nullptr;
};

}  // namespace ncdrill_test

#endif
