#include "tessel_codegen/exchange/schedule_order.hpp"

#include <algorithm>
#include <optional>

#include "support/result.hpp"
#include "tessel_codegen/exchange/memory_dependencies.hpp"

namespace tessel_codegen::exchange {

Result<MaterializedSchedule> materialize_schedule_order(const tessel_exchange::Topology& topology,
                                                        const std::vector<PendingTransfer>& transfers,
                                                        const ReceiveConfiguration& receive,
                                                        std::uint16_t tile_count, const std::vector<std::size_t>& order,
                                                        bool incremental_validation) {
  const std::size_t n = transfers.size();
  if (order.size() != n) return std::unexpected(ExchangeLoweringError::overflow());
  MaterializedSchedule schedule = MaterializedSchedule::create(tile_count, transfers);
  std::vector<LastTransfer> last(tile_count);

  std::vector<std::vector<std::size_t>> predecessors(n);
  for (const auto& [before, after] : memory_dependencies(transfers, tile_count)) predecessors[after].push_back(before);
  std::vector<std::optional<std::uint32_t>> placed_end(n);

  const auto not_topological = [] {
    return std::unexpected(ExchangeLoweringError::invariant("exchange order is not a topological permutation"));
  };
  for (std::size_t t : order) {
    if (t >= n || placed_end[t]) return not_topological();
    std::uint32_t earliest = 0;
    for (std::size_t p : predecessors[t]) {
      if (!placed_end[p]) return not_topological();
      earliest = std::max(earliest, *placed_end[p]);
    }
    placed_end[t] = TESSEL_TRY(schedule.append(topology, transfers, receive.incoming_bases, receive.receive_counts, t,
                                               earliest, incremental_validation, last));
  }
  schedule.horizon = schedule.builder.event_cycles();
  TESSEL_TRY(schedule.builder.finish());
  return schedule;
}

}  // namespace tessel_codegen::exchange
