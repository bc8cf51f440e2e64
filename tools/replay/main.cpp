// ncdrill-replay: runs NC programs through the plug-in as a host does, and
// shows what the plug-in hands the host.
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "options.h"
#include "replay.h"

#ifndef NCDRILL_VERSION
#define NCDRILL_VERSION "unknown"
#endif

namespace {

int Fail(const std::string& message, int status) {
  std::fflush(stdout);
  std::fprintf(stderr, "ncdrill-replay: %s\n", message.c_str());
  return status;
}

int Run(int argc, char** argv) {
  ncdrill_replay::Options options;
  std::string error;
  if (!ncdrill_replay::ParseOptions(argc, argv, options, error)) {
    return Fail(error, ncdrill_replay::kExitUsage);
  }
  if (options.help) {
    std::fputs(ncdrill_replay::UsageText().c_str(), stdout);
    return ncdrill_replay::kExitOk;
  }
  if (options.version) {
    std::printf("ncdrill-replay %s\n", NCDRILL_VERSION);
    return ncdrill_replay::kExitOk;
  }
  int status = ncdrill_replay::kExitOk;
  if (options.explainTable) {
    status = ncdrill_replay::Explain(options, error);
  } else if (options.explain || options.lint) {
    status = ncdrill_replay::Examine(options, error);
  } else {
    status = ncdrill_replay::Replay(options, error);
  }
  if (status == ncdrill_replay::kExitFailed) return Fail(error, status);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    return Fail("cannot write the output", ncdrill_replay::kExitFailed);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
  // Bytes in, bytes out: no line-end translation, no Ctrl-Z end of input,
  // so that a program reads and the report prints as on every system.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    return Fail("out of memory", ncdrill_replay::kExitFailed);
  } catch (const std::exception& e) {
    return Fail(e.what(), ncdrill_replay::kExitFailed);
  }
}
