// Reading and validating a large snapshot held in memory: the work done before any phase runs.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "tessel_codegen/exchange/snapshot_reader.hpp"
#include "workloads.hpp"

namespace {

// About 100 MB of JSON: 31 mixed full-card phases of 20 000 transfers.
const std::string& large_snapshot_json() {
  static const std::string json = [] {
    const auto snapshot = tessel_bench::generate_workload({tessel_bench::WorkloadShape::Mixed, 1472, 20000, 9, 31});
    if (!snapshot) std::abort();
    return tessel_bench::snapshot_json(*snapshot);
  }();
  return json;
}

void BM_ReadAndValidateSnapshot(benchmark::State& state) {
  const std::string& json = large_snapshot_json();
  for (auto _ : state) {
    auto snapshot = tessel_codegen::exchange::read_snapshot(json);
    if (!snapshot || !snapshot->validate()) std::abort();
    benchmark::DoNotOptimize(snapshot->phases.data());
  }
  state.counters["MB"] = static_cast<double>(json.size()) / 1e6;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(json.size()));
}

BENCHMARK(BM_ReadAndValidateSnapshot)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
