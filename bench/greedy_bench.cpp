// The greedy pass alone on a full-card mixed phase: every transfer routed, placed memory-safely and
// encoded into its tiles' programs, once per iteration.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <vector>

#include "tessel_codegen/exchange/greedy.hpp"
#include "tessel_codegen/exchange/pending_transfer.hpp"
#include "tessel_exchange/topology.hpp"
#include "workloads.hpp"

namespace {

using namespace tessel_codegen::exchange;

constexpr std::uint16_t kTiles = 1472;

void BM_GreedyMixedPhase(benchmark::State& state) {
  const auto snapshot = tessel_bench::generate_workload(
      {tessel_bench::WorkloadShape::Mixed, kTiles, static_cast<std::size_t>(state.range(0)), 1, 1});
  if (!snapshot) std::abort();
  const auto transfers = pending_from_problem(snapshot->phases.at(0), kTiles);
  if (!transfers) std::abort();
  const auto receive = receive_configuration(*transfers, kTiles);
  if (!receive) std::abort();
  const tessel_exchange::Topology topology = tessel_exchange::Topology::r912();

  std::chrono::nanoseconds elapsed{0};
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    auto schedule = materialize_greedy_schedule_impl(topology, *transfers, *receive, kTiles, false);
    elapsed += std::chrono::steady_clock::now() - start;
    if (!schedule) std::abort();
    benchmark::DoNotOptimize(schedule->horizon);
  }
  // Microseconds per placed transfer, averaged over the iterations.
  const double placed = static_cast<double>(transfers->size()) * static_cast<double>(state.iterations());
  state.counters["us_per_transfer"] = std::chrono::duration<double, std::micro>(elapsed).count() / placed;
}

BENCHMARK(BM_GreedyMixedPhase)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
