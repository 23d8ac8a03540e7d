#pragma once
// The best schedule the scheduler finds for a phase: the greedy pass (repeated once with incremental
// instruction-alignment validation when its programs cannot be finished for alignment), improved.

#include <cstdint>
#include <vector>

#include "tessel_codegen/exchange/improvement.hpp"
#include "tessel_codegen/exchange/pending_transfer.hpp"

namespace tessel_codegen::exchange {

// The greedy schedule whose programs can be finished.
Result<MaterializedSchedule> materialize_greedy_schedule(const tessel_exchange::Topology& topology,
                                                         const std::vector<PendingTransfer>& transfers,
                                                         const ReceiveConfiguration& receive,
                                                         std::uint16_t tile_count);

Result<ImprovedSchedule> optimize_pending_schedule(const tessel_exchange::Topology& topology,
                                                   const std::vector<PendingTransfer>& transfers,
                                                   const ReceiveConfiguration& receive, std::uint16_t tile_count);

}  // namespace tessel_codegen::exchange
