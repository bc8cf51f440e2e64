// Benchmarks of the plug-in as a host drives it: InterpretBlock on generated
// programs, beside the floor of touching each block once, table loading and
// interpreter creation. After the run, each InterpretBlock figure is printed
// as a ratio to the floor of the same block shape.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "ncdrill/ncdrill.h"
#include "program.h"

namespace ncdrill_bench {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kProgramBlocks = 1 << 16;

// ncdrill.so copied into a temporary folder beside a table file, opened by
// dlopen as a host opens it.
class PluginFolder {
 public:
  explicit PluginFolder(const std::string& table) {
    std::string pattern = (fs::temp_directory_path() / "ncdrill-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    folder_ = pattern + "/";
    fs::copy_file(NCDRILL_PLUGIN_FILE, folder_ + "ncdrill.so");
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

// A host that does as little as a real one could: it counts drill blocks.
struct CountingHost {
  HostCallbacks table{};
  long drillBlocks = 0;
  CountingHost() {
    table.context = this;
    table.putRecordChain = [](void*, const ChainRecord*) {};
    table.putLabelledList = [](void*, const char*, const SelectionList*) {};
    table.putDefinitionPath = [](void*, const char*) {};
    table.endBlock = [](void* context) { ++static_cast<CountingHost*>(context)->drillBlocks; };
  }
};

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

// One iteration is one block, so the time per iteration is the time per block.
void RunInterpreter(benchmark::State& state, BlockShape shape, const std::string& table) {
  PluginFolder plugin(table);
  CountingHost host;
  std::unique_ptr<Interpreter> interpreter(plugin.Create(&host.table));
  const std::vector<std::string>& program = Program(shape);
  std::size_t next = 0;
  long accepted = 0;
  for (auto _ : state) {
    const std::string& block = program[next];
    next = (next + 1) & (kProgramBlocks - 1);
    accepted += interpreter->InterpretBlock(block.data(), static_cast<std::int32_t>(block.size()));
  }
  benchmark::DoNotOptimize(accepted);
  state.counters["chars"] = AverageLength(program);
  state.counters["drill%"] =
      100.0 * static_cast<double>(host.drillBlocks) / static_cast<double>(state.iterations());
}

// The floor: copy the block into a buffer and look at each byte once.
void RunFloor(benchmark::State& state, BlockShape shape) {
  const std::vector<std::string>& program = Program(shape);
  char buffer[1024];
  std::size_t next = 0;
  for (auto _ : state) {
    const std::string& block = program[next];
    next = (next + 1) & (kProgramBlocks - 1);
    std::memcpy(buffer, block.data(), block.size());
    benchmark::DoNotOptimize(buffer);
    benchmark::DoNotOptimize(std::memchr(buffer, '\x01', block.size()));
  }
  state.counters["chars"] = AverageLength(program);
}

void BM_Floor_Typical(benchmark::State& state) { RunFloor(state, BlockShape::kTypical); }
void BM_Floor_Long(benchmark::State& state) { RunFloor(state, BlockShape::kLong); }
void BM_InterpretBlock_Typical(benchmark::State& state) {
  RunInterpreter(state, BlockShape::kTypical, TypicalTable());
}
void BM_InterpretBlock_Table1000(benchmark::State& state) {
  RunInterpreter(state, BlockShape::kTypical, LargeTable(1000));
}
void BM_InterpretBlock_Long(benchmark::State& state) {
  RunInterpreter(state, BlockShape::kLong, TypicalTable());
}

// GetInterpreter with a table of state.range(0) lines, then destruction:
// finding the folder, the definition path, reading and linking the table.
void BM_GetInterpreter(benchmark::State& state) {
  PluginFolder plugin(LargeTable(static_cast<std::size_t>(state.range(0))));
  CountingHost host;
  for (auto _ : state) {
    Interpreter* interpreter = plugin.Create(&host.table);
    benchmark::DoNotOptimize(interpreter);
    delete interpreter;
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_Floor_Typical);
BENCHMARK(BM_InterpretBlock_Typical);
BENCHMARK(BM_InterpretBlock_Table1000);
BENCHMARK(BM_Floor_Long);
BENCHMARK(BM_InterpretBlock_Long);
BENCHMARK(BM_GetInterpreter)->Arg(30)->Arg(10000);

// Collects the time per iteration of every run to print the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
        nanoseconds_[run.benchmark_name()] =
            run.GetAdjustedRealTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintRatios() const {
    const struct {
      const char* name;
      const char* floor;
      double target;
    } rows[] = {{"BM_InterpretBlock_Typical", "BM_Floor_Typical", 3},
                {"BM_InterpretBlock_Table1000", "BM_Floor_Typical", 5},
                {"BM_InterpretBlock_Long", "BM_Floor_Long", 3}};
    std::printf("\n%-30s %10s %10s %8s %8s\n", "shape", "ns/block", "floor ns", "ratio", "target");
    for (const auto& row : rows) {
      const auto it = nanoseconds_.find(row.name);
      const auto floor = nanoseconds_.find(row.floor);
      if (it == nanoseconds_.end() || floor == nanoseconds_.end()) continue;
      std::printf("%-30s %10.2f %10.2f %7.2fx %7.0fx\n", row.name, it->second, floor->second,
                  it->second / floor->second, row.target);
    }
  }

 private:
  std::map<std::string, double> nanoseconds_;
};

}  // namespace
}  // namespace ncdrill_bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  ncdrill_bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
