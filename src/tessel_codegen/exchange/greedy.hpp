#pragma once
// The first schedule of a phase: a list scheduler over the memory dependencies that always places the
// ready transfer which can start earliest, preferring busy tiles.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tessel_codegen/exchange/materialized_schedule.hpp"
#include "tessel_codegen/exchange/pending_transfer.hpp"

namespace tessel_codegen::exchange {

// One ready-queue entry; the greatest entry is placed first.
struct ReadyTransfer {
  std::uint32_t ready = 0;   // earliest start; smaller is better
  std::uint64_t work = 0;    // remaining work on the transfer's tiles; larger is better
  std::size_t destinations = 0;
  std::uint32_t cost = 0;
  std::uint16_t source = 0;  // smaller is better
  std::size_t transfer = 0;  // smaller is better

  friend bool operator<(const ReadyTransfer& a, const ReadyTransfer& b);
  bool operator==(const ReadyTransfer&) const = default;
};

Result<MaterializedSchedule> materialize_greedy_schedule_impl(const tessel_exchange::Topology& topology,
                                                              const std::vector<PendingTransfer>& transfers,
                                                              const ReceiveConfiguration& receive,
                                                              std::uint16_t tile_count, bool incremental_validation);

}  // namespace tessel_codegen::exchange
