// ncdrill_soak: a host that drives one interpreter through millions of blocks
// and reports time and memory, failing when results go wrong or memory grows
// with the number of blocks.
//
//   ncdrill_soak [blocks] [table-lines] [block-bytes] [named]
//
// defaults: 1,000,000 blocks, a table of 100 lines, blocks of at most 64
// characters. With "named", every table line has a name (Q1, Q2, ...) that
// no block holds, so that every block is searched for every name. The blocks cycle through a short
// program of requests, masks, units, comments and drill blocks; every drill block is checked.
// Memory is the process's resident set, taken after the first tenth of the blocks and at the end;
// the end may exceed it by at most 1 MiB.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "host_platform.h"
#include "ncdrill/ncdrill.h"

namespace {

struct SoakHost {
  HostCallbacks table{};
  long drills = 0;
  long wrong = 0;
  std::size_t tableLines = 0;
  std::uint32_t expectedCount = 0;
  std::int32_t expectedTerminal = 0;

  SoakHost() {
    table.context = this;
    table.putRecordChain = [](void* c, const ChainRecord* first) {
      SoakHost& h = *static_cast<SoakHost*>(c);
      std::size_t records = 0;
      const ChainRecord* r = first;
      for (; r->next != nullptr; r = r->next) {
        if (r->value != 0.0f && r->value != 5.0f && r->value != 127.0f) ++h.wrong;
        ++records;
      }
      if (records != h.tableLines || r->number != h.expectedTerminal) ++h.wrong;
    };
    table.putLabelledList = [](void* c, const char*, const SelectionList* list) {
      SoakHost& h = *static_cast<SoakHost*>(c);
      if (list->count != h.expectedCount) ++h.wrong;
    };
    table.endBlock = [](void* c) { ++static_cast<SoakHost*>(c)->drills; };
  }
};

struct Step {
  std::string text;
  bool result;
  bool drill;
  std::uint32_t count;  // Selections handed over, for a drill block
};

}  // namespace

int main(int argc, char** argv) {
  const long blocks = argc > 1 ? std::atol(argv[1]) : 1000000;
  const long tableLines = argc > 2 ? std::atol(argv[2]) : 100;
  const long blockBytes = argc > 3 ? std::atol(argv[3]) : 64;
  const bool named = argc > 4 && std::string(argv[4]) == "named";
  if (blocks <= 0 || tableLines < 2 || blockBytes < 32) {
    std::fprintf(stderr,
                 "usage: ncdrill_soak [blocks] [table-lines >= 2] [block-bytes >= 32] [named]\n");
    return 2;
  }

  namespace fs = std::filesystem;
  using ncdrill_test::PeakResidentKiB;
  using ncdrill_test::ResidentKiB;
  const fs::path folder(ncdrill_test::MakeScratchFolder("ncdrill-soak-"));
  {
    std::ofstream out(folder / "VONDRIX_4.txt");
    out << "# soak table\n";
    for (long i = 1; i < tableLines; ++i) {
      out << i;
      if (named) out << " Q" << i;
      out << "\n";
    }
    out << "81 G81\n";
  }
  std::unique_ptr<ncdrill_test::Library> library;
  try {
    fs::copy_file(NCDRILL_PLUGIN_FILE, folder / ncdrill_test::PluginFileName());
    library =
        std::make_unique<ncdrill_test::Library>((folder / ncdrill_test::PluginFileName()).string());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "cannot load the plug-in: %s\n", e.what());
    return 2;
  }
  const auto getInterpreter = reinterpret_cast<GetInterpreterFn>(library->Find("GetInterpreter"));
  if (getInterpreter == nullptr) return 2;

  const std::string padding(static_cast<std::size_t>(blockBytes) - 24, ' ');
  const std::vector<Step> program = {
      {"N10 G21 T3 M9" + padding, true, false, 0},
      {"N20 G81 X10 Y20 Z-5" + padding, false, true, 2},
      {"N30 X30" + padding, false, false, 0},
      {"N40 T12 M6 (tool)" + padding, true, false, 0},
      {"N50 G20 G81 Z-2" + padding, false, true, 1},
      {"N60 T16383 M9 G52" + padding, true, false, 0},
      {"N70 (G81 in a comment)" + padding, false, true, 14},
      {"N80 G80" + padding, false, false, 0},
  };

  SoakHost host;
  host.tableLines = static_cast<std::size_t>(tableLines);
  host.expectedTerminal = -81;
  Interpreter* interpreter = getInterpreter(&host.table, nullptr, nullptr);
  if (interpreter == nullptr) return 2;

  long wrongResults = 0;
  long expectedDrills = 0;
  long residentAtTenth = 0;
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < blocks; ++i) {
    const Step& step = program[static_cast<std::size_t>(i) % program.size()];
    host.expectedCount = step.count;
    if (interpreter->InterpretBlock(step.text.data(),
                                    static_cast<std::int32_t>(step.text.size())) != step.result) {
      ++wrongResults;
    }
    if (step.drill) ++expectedDrills;
    if (i == blocks / 10) residentAtTenth = ResidentKiB();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const long residentAtEnd = ResidentKiB();
  const long peak = PeakResidentKiB();
  delete interpreter;
  library.reset();
  std::error_code ignored;
  fs::remove_all(folder, ignored);

  std::printf(
      "%ld blocks of up to %ld bytes, table of %ld%s lines: %.2f s (%.0f blocks/s), "
      "%ld drill blocks\n",
      blocks, blockBytes, tableLines, named ? " named" : "", seconds,
      static_cast<double>(blocks) / seconds, host.drills);
  std::printf("resident: %ld KiB after a tenth, %ld KiB at the end; peak %ld KiB\n",
              residentAtTenth, residentAtEnd, peak);
  const bool grew = residentAtEnd > residentAtTenth + 1024;
  const bool ok = wrongResults == 0 && host.wrong == 0 && host.drills == expectedDrills && !grew;
  if (!ok) {
    std::printf("FAILED: %ld wrong results, %ld wrong drill blocks, %ld of %ld drill blocks%s\n",
                wrongResults, host.wrong, host.drills, expectedDrills, grew ? ", memory grew" : "");
  }
  return ok ? 0 : 1;
}
