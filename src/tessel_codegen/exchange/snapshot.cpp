#include "tessel_codegen/exchange/snapshot.hpp"

#include <fmt/format.h>

#include <set>

#include "tessel_codegen/exchange/pending_transfer.hpp"
#include "tessel_exchange/topology.hpp"

namespace tessel_codegen::exchange {

const char* width_name(ExchangeItemWidth width) {
  return width == ExchangeItemWidth::Paired64 ? "Paired64" : "Word32";
}

Result<void> ExchangeScheduleSnapshot::validate() const {
  if (schema_version != kSnapshotSchemaVersion)
    return std::unexpected(ExchangeLoweringError::invalid_snapshot(
        fmt::format("unsupported schema version {} (expected {})", schema_version, kSnapshotSchemaVersion)));
  if (tile_count < 1 || tile_count > tessel_exchange::kR912TileCount)
    return std::unexpected(
        ExchangeLoweringError::invalid_snapshot(fmt::format("tile count {} is outside the R912 topology", tile_count)));
  std::set<std::uint32_t> seen;
  for (const ExchangeScheduleProblem& problem : phases) {
    if (!seen.insert(problem.phase).second)
      return std::unexpected(ExchangeLoweringError::invalid_snapshot(fmt::format("duplicate phase {}", problem.phase)));
    // The same conversion the scheduler runs, so that a bad transfer is rejected before any work.
    auto converted = pending_from_problem(problem, tile_count);
    if (!converted) return std::unexpected(std::move(converted).error());
  }
  return {};
}

}  // namespace tessel_codegen::exchange
