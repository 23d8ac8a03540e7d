#pragma once
// Synthetic exchange-schedule snapshots in the shapes a tiled machine-learning compiler produces, for
// benchmarks, bundled samples and tests. Generation is deterministic for a seed on every platform:
// it uses its own generator and its own integer ranges, never a standard distribution.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tessel_codegen/exchange/snapshot.hpp"

namespace tessel_bench {

enum class WorkloadShape : std::uint8_t {
  AllToAll,   // every tile sends a shard to every other tile, point to point
  Broadcast,  // one tile sends to a group of tiles (multicast), sometimes including itself
  Gather,     // groups of tiles send to one root tile each
  Halo,       // tiles on a grid exchange borders with their four neighbours
  Paired,     // 64-bit transfers from a partner pair to other partner pairs
  Repeat,     // transfers inside a Repeat loop: one source address per iteration
  Overlap,    // chains that forward received data and reuse buffers: memory dependencies
  Mixed,      // all of the above, interleaved, with word counts from 1 to 4 148
};

// Every shape, in the order of the enumeration.
const std::vector<WorkloadShape>& all_workload_shapes();

// "all-to-all", "broadcast", "gather", "halo", "paired", "repeat", "overlap", "mixed".
const char* workload_shape_name(WorkloadShape shape);
std::optional<WorkloadShape> workload_shape_from_name(std::string_view name);

struct WorkloadRequest {
  WorkloadShape shape = WorkloadShape::Mixed;
  std::uint16_t tiles = 0;
  std::size_t transfers = 0;  // per phase
  std::uint64_t seed = 0;
  std::size_t phases = 1;
};

// A snapshot of `phases` phases (IDs 1, 2, ...) of exactly `transfers` transfers each, every one of
// which passes the snapshot validation. Fails with a message when the request cannot be met: a tile
// count outside 2 to 1 472 (4 to 1 472 for the paired shape) or no phases.
std::expected<tessel_codegen::exchange::ExchangeScheduleSnapshot, std::string> generate_workload(
    const WorkloadRequest& request);

// The snapshot as JSON in the object form, without indentation, ending in a newline.
std::string snapshot_json(const tessel_codegen::exchange::ExchangeScheduleSnapshot& snapshot);

// The splitmix64 generator: small, fast and the same everywhere.
class WorkloadRandom {
 public:
  explicit WorkloadRandom(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next();
  // Uniform in 0..bound-1 (bound > 0); the modulo bias is irrelevant for workloads.
  std::uint64_t below(std::uint64_t bound) { return next() % bound; }
  // Uniform in low..high inclusive.
  std::uint64_t between(std::uint64_t low, std::uint64_t high) { return low + below(high - low + 1); }
  // True with probability percent / 100.
  bool chance(std::uint32_t percent) { return below(100) < percent; }

 private:
  std::uint64_t state_;
};

// A payload length as compiled programs have them: mostly 16 to 1 023 words (log-uniform), a tenth
// short (1 to 15) and a tenth long (1 024 to 4 148).
std::uint32_t realistic_word_count(WorkloadRandom& random);

}  // namespace tessel_bench
