#pragma once
// Shortening a phase's first schedule: matching waves once, then order repairs around the critical
// path for as long as each one makes the phase strictly shorter.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tessel_codegen/exchange/materialized_schedule.hpp"
#include "tessel_codegen/exchange/pending_transfer.hpp"

namespace tessel_codegen::exchange {

struct ImprovedSchedule {
  MaterializedSchedule schedule;
  std::size_t neighborhood_improvements = 0;
  std::uint32_t initial_horizon = 0;
  std::uint32_t endpoint_lower_bound = 0;
};

// The busiest tile's send or receive work in transfer cycles, limited to u32.
std::uint32_t endpoint_work_lower_bound(const std::vector<PendingTransfer>& transfers, std::uint16_t tile_count);

// Flags the critical path of a schedule (from the placement that ends last, following critical
// predecessors) and, on every tile, the transfers within floor(sqrt(m)) list positions of a critical
// transfer in that tile's list of m transfers.
std::vector<bool> critical_neighborhood(const MaterializedSchedule& schedule,
                                        const std::vector<PendingTransfer>& transfers, std::uint16_t tile_count);

// Never fails: candidates that fail or are not strictly shorter are dropped.
ImprovedSchedule improve_pending_schedule(const tessel_exchange::Topology& topology,
                                          const std::vector<PendingTransfer>& transfers,
                                          const ReceiveConfiguration& receive, std::uint16_t tile_count,
                                          MaterializedSchedule schedule);

}  // namespace tessel_codegen::exchange
