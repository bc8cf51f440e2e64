// Benchmarks of the block path as a host gets it: InterpretBlock of the
// plug-in built for each vector unit this processor has, beside the
// straightforward search and the floor, on three workloads; then table
// loading and interpreter creation. The run ends with each block path's
// ratio to the floor of the same workload.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "interpret/vector_scan.h"
#include "ncdrill/ncdrill.h"
#include "program.h"
#include "straightforward.h"
#include "unit_plugins.h"

namespace ncdrill_bench {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kProgramBlocks = 1 << 16;

// A plug-in copied into a temporary folder beside a table file, opened by
// dlopen as a host opens it.
class PluginFolder {
 public:
  PluginFolder(const std::string& pluginFile, const std::string& table) {
    std::string pattern = (fs::temp_directory_path() / "ncdrill-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    folder_ = pattern + "/";
    fs::copy_file(pluginFile, folder_ + "ncdrill.so");
    std::ofstream(folder_ + "VONDRIX_4.txt", std::ios::binary) << table;
    handle_ = dlopen((folder_ + "ncdrill.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error(dlerror());
    create_ = reinterpret_cast<GetInterpreterFn>(dlsym(handle_, "GetInterpreter"));
  }
  ~PluginFolder() {
    dlclose(handle_);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  PluginFolder(const PluginFolder&) = delete;
  PluginFolder& operator=(const PluginFolder&) = delete;

  Interpreter* Create(HostCallbacks* host) const { return create_(host, nullptr, nullptr); }

 private:
  std::string folder_;
  void* handle_ = nullptr;
  GetInterpreterFn create_ = nullptr;
};

// A host that reads what a drill block hands it, as a real one must: every
// record of the chain and every Selection of the list.
struct ReadingHost {
  HostCallbacks table{};
  long drillBlocks = 0;
  double read = 0;
  ReadingHost() {
    table.context = this;
    table.putDefinitionPath = [](void*, const char*) {};
    table.putRecordChain = [](void* context, const ChainRecord* first) {
      double sum = 0;
      for (const ChainRecord* r = first; r != nullptr; r = r->next) sum += r->value + r->number;
      Self(context).read += sum;
    };
    table.putLabelledList = [](void* context, const char*, const SelectionList* list) {
      double sum = 0;
      for (const SelectionNode* n = list->sentinel->next; n != list->sentinel; n = n->next) {
        sum += n->selection.slot;
      }
      Self(context).read += sum;
    };
    table.endBlock = [](void* context) { ++Self(context).drillBlocks; };
  }
  static ReadingHost& Self(void* context) { return *static_cast<ReadingHost*>(context); }
};

struct Workload {
  const char* name;
  BlockShape shape;
  std::string table;
};

const std::vector<Workload>& Workloads() {
  static const std::vector<Workload> workloads = {
      {"typical", BlockShape::kTypical, TypicalTable()},
      {"1,000-line table", BlockShape::kTypical, LargeTable(1000)},
      {"200-char blocks", BlockShape::kLong, TypicalTable()},
  };
  return workloads;
}

const std::vector<std::string>& Program(BlockShape shape) {
  static const std::vector<std::string> typical =
      GenerateProgram(BlockShape::kTypical, kProgramBlocks);
  static const std::vector<std::string> longer = GenerateProgram(BlockShape::kLong, kProgramBlocks);
  return shape == BlockShape::kTypical ? typical : longer;
}

double AverageLength(const std::vector<std::string>& program) {
  double total = 0;
  for (const std::string& b : program) total += static_cast<double>(b.size());
  return total / static_cast<double>(program.size());
}

// Feeds the workload's program, one block per iteration, to `interpret`
// (bool(const char*, std::int32_t)), so the time per iteration is the time
// per block.
template <typename Interpret>
void RunBlocks(benchmark::State& state, const Workload& workload, const ReadingHost& host,
               Interpret&& interpret) {
  const std::vector<std::string>& program = Program(workload.shape);
  std::size_t next = 0;
  long accepted = 0;
  for (auto _ : state) {
    const std::string& block = program[next];
    next = (next + 1) & (kProgramBlocks - 1);
    accepted += interpret(block.data(), static_cast<std::int32_t>(block.size()));
  }
  benchmark::DoNotOptimize(accepted);
  state.counters["chars"] = AverageLength(program);
  state.counters["drill%"] =
      100.0 * static_cast<double>(host.drillBlocks) / static_cast<double>(state.iterations());
}

void RunStraightforward(benchmark::State& state, const Workload& workload) {
  ReadingHost host;
  StraightforwardSearch search(workload.table, &host.table);
  RunBlocks(state, workload, host, [&search](const char* text, std::int32_t length) {
    return search.InterpretBlock(text, length);
  });
}

// What a block path does with each block of a workload's program, in one
// pass from a fresh interpreter: its result, and whether it delivered a drill
// block. `interpret` is bool(const char*, std::int32_t).
struct Outcomes {
  std::vector<bool> result;
  std::vector<bool> drill;
  bool operator==(const Outcomes& other) const {
    return result == other.result && drill == other.drill;
  }
};

template <typename Interpret>
Outcomes OnePass(const Workload& workload, const ReadingHost& host, Interpret&& interpret) {
  Outcomes outcomes;
  for (const std::string& block : Program(workload.shape)) {
    const long before = host.drillBlocks;
    outcomes.result.push_back(interpret(block.data(), static_cast<std::int32_t>(block.size())));
    outcomes.drill.push_back(host.drillBlocks != before);
  }
  return outcomes;
}

// The straightforward search's outcomes, worked out once per workload.
const Outcomes& Expected(const Workload& workload) {
  static std::map<const Workload*, Outcomes> expected;
  auto it = expected.find(&workload);
  if (it == expected.end()) {
    ReadingHost host;
    StraightforwardSearch search(workload.table, &host.table);
    it = expected
             .emplace(&workload, OnePass(workload, host,
                                         [&search](const char* text, std::int32_t length) {
                                           return search.InterpretBlock(text, length);
                                         }))
             .first;
  }
  return it->second;
}

// A plug-in that does not do what the straightforward search does would be
// measured doing other work: the run stops with an error instead.
void RunPlugin(benchmark::State& state, const Workload& workload, const char* pluginFile) {
  PluginFolder plugin(pluginFile, workload.table);
  ReadingHost host;
  std::unique_ptr<Interpreter> interpreter(plugin.Create(&host.table));
  const auto interpret = [&interpreter](const char* text, std::int32_t length) {
    return interpreter->InterpretBlock(text, length);
  };
  if (!(OnePass(workload, host, interpret) == Expected(workload))) {
    state.SkipWithError("the plug-in's results differ from the straightforward search's");
    return;
  }
  host.drillBlocks = 0;
  RunBlocks(state, workload, host, interpret);
}

// The records of the workload's table, and the terminal record.
std::size_t ChainLength(const Workload& workload) {
  ReadingHost host;
  return StraightforwardSearch(workload.table, &host.table).recordCount() + 1;
}

// The floor: copy the block into a buffer and look at each byte once; at
// each drill block, hand the same host callbacks a contiguous chain of the
// table's length and an empty list.
void RunFloor(benchmark::State& state, const Workload& workload) {
  const std::vector<bool>& drill = Expected(workload).drill;
  std::vector<ChainRecord> chain(ChainLength(workload), ChainRecord{1, 127.0f, nullptr});
  for (std::size_t i = 0; i + 1 < chain.size(); ++i) chain[i].next = &chain[i + 1];
  SelectionNode sentinel{&sentinel, &sentinel, {0, 0}};
  const SelectionList list{nullptr, &sentinel, 0};
  ReadingHost host;
  const HostCallbacks& callbacks = host.table;
  // On the heap, as the programs are: a buffer on the stack lies at an
  // offset from the blocks that changes from run to run, and at some offsets
  // every copy stalls on loads that seem to alias its stores (the floor
  // came out 14 ns in most runs, 21 to 27 ns in a few).
  std::vector<char> buffer(1024);
  std::size_t index = 0;
  RunBlocks(state, workload, host, [&](const char* text, std::int32_t length) {
    const auto size = static_cast<std::size_t>(length);
    std::memcpy(buffer.data(), text, size);
    benchmark::DoNotOptimize(buffer.data());
    const bool found = std::memchr(buffer.data(), '\x01', size) != nullptr;
    if (drill[index]) {
      callbacks.putRecordChain(callbacks.context, chain.data());
      callbacks.putLabelledList(callbacks.context, "Drill block", &list);
      callbacks.endBlock(callbacks.context);
    }
    index = (index + 1) & (kProgramBlocks - 1);
    return found;
  });
}

// GetInterpreter with a table of state.range(0) lines, then destruction:
// finding the folder, the definition path, reading and linking the table.
void BM_GetInterpreter(benchmark::State& state) {
  PluginFolder plugin(NCDRILL_PLUGIN_FILE, LargeTable(static_cast<std::size_t>(state.range(0))));
  ReadingHost host;
  for (auto _ : state) {
    Interpreter* interpreter = plugin.Create(&host.table);
    benchmark::DoNotOptimize(interpreter);
    delete interpreter;
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The rows of the final table: the floor, each unit this processor has, from
// the highest down, and the straightforward search.
struct Row {
  std::string name;
  double target[3];  // the highest ratio to the floor each workload may have; 0: none
};

constexpr const char* kFloor = "floor";
constexpr const char* kStraightforward = "straightforward search";

std::vector<Row> RegisterBlockBenchmarks() {
  std::vector<Row> rows{{kFloor, {0, 0, 0}}};
  std::vector<const ncdrill_units::UnitPlugin*> units;
  for (const ncdrill_units::UnitPlugin& unit : ncdrill_units::kUnitPlugins) {
    if (ncdrill::HasVectorUnit(static_cast<ncdrill::VectorUnit>(unit.unit))) {
      units.insert(units.begin(), &unit);
    }
  }
  for (const ncdrill_units::UnitPlugin* unit : units) {
    const bool portable = unit->unit == static_cast<int>(ncdrill::VectorUnit::kPortable);
    rows.push_back(Row{unit->name, {2, 2, portable ? 5.0 : 2.0}});
  }
  rows.push_back(Row{kStraightforward, {0, 0, 0}});
  for (const Workload& workload : Workloads()) {
    for (const Row& row : rows) {
      const std::string name = "InterpretBlock/" + std::string(workload.name) + "/" + row.name;
      if (row.name == kFloor) {
        benchmark::RegisterBenchmark(name.c_str(), RunFloor, workload);
      } else if (row.name == kStraightforward) {
        benchmark::RegisterBenchmark(name.c_str(), RunStraightforward, workload);
      } else {
        for (const ncdrill_units::UnitPlugin* unit : units) {
          if (row.name == unit->name) {
            benchmark::RegisterBenchmark(name.c_str(), RunPlugin, workload, unit->file);
          }
        }
      }
    }
  }
  benchmark::RegisterBenchmark("GetInterpreter", BM_GetInterpreter)->Arg(30)->Arg(10000);
  return rows;
}

// Units that run the same path (the plug-ins built per unit share every
// instruction) still come out up to about 2% apart in one run: a unit is
// slower than the one below it only past that.
constexpr double kSameSpeed = 1.02;

// Collects the CPU time per block of every run (the median when runs are
// repeated) to print the table of ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
      if ((median || single) && run.iterations > 0) {
        nanoseconds_[run.run_name.str()] =
            run.GetAdjustedCPUTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Prints ns per block and the ratio to the floor, and returns false when
  // a ratio misses its target or a unit is slower than a lower one.
  bool PrintRatios(const std::vector<Row>& rows) const {
    std::printf("\nns per block, CPU time (ratio to the floor); '!' misses its target\n%-24s", "");
    for (const Workload& w : Workloads()) std::printf(" %22s", w.name);
    std::printf("\n");
    bool met = true;
    for (std::size_t r = 0; r < rows.size(); ++r) {
      std::printf("%-24s", rows[r].name.c_str());
      for (std::size_t w = 0; w < Workloads().size(); ++w) {
        const double ns = Find(Workloads()[w], rows[r].name);
        const double floor = Find(Workloads()[w], kFloor);
        if (ns <= 0 || floor <= 0) {
          std::printf(" %22s", "-");
          continue;
        }
        const double ratio = ns / floor;
        const double target = rows[r].target[w];
        const bool slowerThanLower = target > 0 && r + 1 < rows.size() &&
                                     rows[r + 1].target[w] > 0 &&
                                     ns > kSameSpeed * Find(Workloads()[w], rows[r + 1].name);
        const bool missed = (target > 0 && ratio > target) || slowerThanLower;
        met = met && !missed;
        std::printf(" %11.1f (%5.2fx)%c%c", ns, ratio, missed ? '!' : ' ',
                    slowerThanLower ? '<' : ' ');
      }
      std::printf("\n");
    }
    std::printf(
        "targets: vector units <= 2x, portable <= 2x / 2x / 5x; '<' marks a unit "
        "slower than the one below it (by more than 2%%)\n");
    return met;
  }

 private:
  double Find(const Workload& workload, const std::string& row) const {
    const auto it = nanoseconds_.find("InterpretBlock/" + std::string(workload.name) + "/" + row);
    return it == nanoseconds_.end() ? 0 : it->second;
  }

  std::map<std::string, double> nanoseconds_;
};

}  // namespace
}  // namespace ncdrill_bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const std::vector<ncdrill_bench::Row> rows = ncdrill_bench::RegisterBlockBenchmarks();
  ncdrill_bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios(rows);
  benchmark::Shutdown();
  return 0;
}
