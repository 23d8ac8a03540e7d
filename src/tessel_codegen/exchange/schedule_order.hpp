#pragma once
// Turns a complete transfer order into a schedule, each transfer no earlier than the end of the
// transfers whose memory it depends on.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tessel_codegen/exchange/materialized_schedule.hpp"
#include "tessel_codegen/exchange/pending_transfer.hpp"

namespace tessel_codegen::exchange {

// Accepts exactly the permutations of the transfers that put every memory-dependency predecessor
// first; checks that the finished programs can be built.
Result<MaterializedSchedule> materialize_schedule_order(const tessel_exchange::Topology& topology,
                                                        const std::vector<PendingTransfer>& transfers,
                                                        const ReceiveConfiguration& receive,
                                                        std::uint16_t tile_count, const std::vector<std::size_t>& order,
                                                        bool incremental_validation);

}  // namespace tessel_codegen::exchange
