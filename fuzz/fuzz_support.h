// What both fuzz targets need: a scratch folder that lives as long as the
// process, a way to write a file into it, and a loud stop on a finding.
#ifndef NCDRILL_FUZZ_FUZZ_SUPPORT_H
#define NCDRILL_FUZZ_FUZZ_SUPPORT_H

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace ncdrill_fuzz {

// Reports a broken promise of the plug-in and stops, so that the fuzzer
// keeps the input.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "ncdrill fuzz check failed: %s\n", what);
  std::abort();
}

inline void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

// The process's scratch folder, ending with '/'; removed at exit. The name is
// never destroyed, so that the exit handler can still use it.
inline const std::string& ScratchFolder() {
  static const std::string& folder = *new std::string([] {
    std::string pattern = (std::filesystem::temp_directory_path() / "ncdrill-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) Fail("cannot make a scratch folder");
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(ScratchFolder(), ignored);
    });
    return pattern + "/";
  }());
  return folder;
}

// Replaces the file `name` in the scratch folder with `bytes`.
inline void WriteScratchFile(const std::string& name, std::string_view bytes) {
  const std::string path = ScratchFolder() + name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) Fail("cannot write a scratch file");
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (std::fclose(file) != 0 || !written) Fail("cannot write a scratch file");
}

}  // namespace ncdrill_fuzz

#endif
