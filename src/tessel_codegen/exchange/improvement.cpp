#include "tessel_codegen/exchange/improvement.hpp"

#include <algorithm>
#include <cmath>

#include "tessel_codegen/exchange/memory_dependencies.hpp"
#include "tessel_codegen/exchange/order/matching_wave.hpp"
#include "tessel_codegen/exchange/order/repair.hpp"
#include "tessel_codegen/exchange/schedule_order.hpp"

namespace tessel_codegen::exchange {

namespace {

std::size_t integer_sqrt(std::size_t n) {
  auto r = static_cast<std::size_t>(std::sqrt(static_cast<double>(n)));
  while (r * r > n) --r;
  while ((r + 1) * (r + 1) <= n) ++r;
  return r;
}

}  // namespace

std::uint32_t endpoint_work_lower_bound(const std::vector<PendingTransfer>& transfers, std::uint16_t tile_count) {
  std::vector<std::uint64_t> send(tile_count, 0);
  std::vector<std::uint64_t> receive(tile_count, 0);
  for (const PendingTransfer& t : transfers) {
    const std::uint64_t cycles = transfer_cycles(t);
    send[t.source] += cycles;
    if (t.paired_source) send[*t.paired_source] += cycles;
    for (const auto& destination : t.destinations) receive[destination.first] += cycles;
  }
  std::uint64_t bound = 0;
  for (std::size_t tile = 0; tile < tile_count; ++tile) bound = std::max({bound, send[tile], receive[tile]});
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(bound, 0xFFFFFFFFu));
}

std::vector<bool> critical_neighborhood(const MaterializedSchedule& schedule,
                                        const std::vector<PendingTransfer>& transfers, std::uint16_t tile_count) {
  const std::size_t n = transfers.size();
  std::vector<bool> on_path(n, false);
  std::optional<std::size_t> current;
  for (std::size_t t = 0; t < schedule.placements.size(); ++t)
    if (schedule.placements[t] && (!current || schedule.placements[t]->end >= schedule.placements[*current]->end))
      current = t;
  while (current && !on_path[*current]) {
    on_path[*current] = true;
    const auto& placement = schedule.placements[*current];
    current = placement ? placement->critical_predecessor : std::nullopt;
  }

  std::vector<std::vector<std::size_t>> tile_lists(tile_count);
  for (std::size_t t : schedule.order) transfers[t].for_each_tile([&](std::uint16_t tile) { tile_lists[tile].push_back(t); });

  std::vector<bool> flags = on_path;
  for (const auto& list : tile_lists) {
    const std::size_t m = list.size();
    if (m == 0) continue;
    const std::size_t radius = integer_sqrt(m);
    for (std::size_t i = 0; i < m; ++i) {
      if (!on_path[list[i]]) continue;
      const std::size_t from = i >= radius ? i - radius : 0;
      const std::size_t to = std::min(m, i + radius + 1);
      for (std::size_t k = from; k < to; ++k) flags[list[k]] = true;
    }
  }
  return flags;
}

ImprovedSchedule improve_pending_schedule(const tessel_exchange::Topology& topology,
                                          const std::vector<PendingTransfer>& transfers,
                                          const ReceiveConfiguration& receive, std::uint16_t tile_count,
                                          MaterializedSchedule schedule) {
  ImprovedSchedule result{std::move(schedule), 0, 0, endpoint_work_lower_bound(transfers, tile_count)};
  result.initial_horizon = result.schedule.horizon;
  MaterializedSchedule& best = result.schedule;

  if (auto waves = order::point_to_point_matching_wave_order(transfers, tile_count, best.order)) {
    auto candidate = materialize_schedule_order(topology, transfers, receive, tile_count, *waves, false);
    if (candidate && candidate->horizon < best.horizon) best = std::move(*candidate);
  }

  const std::size_t n = transfers.size();
  for (;;) {
    std::vector<std::size_t> order = best.order;
    if (n >= 2) {
      const std::vector<bool> flags = critical_neighborhood(best, transfers, tile_count);
      if (std::count(flags.begin(), flags.end(), true) >= 2)
        order = order::repair_order(transfers, tile_count, best.order, flags);
    }
    if (order == best.order) break;
    auto candidate = materialize_schedule_order(topology, transfers, receive, tile_count, order, false);
    if (!candidate || !(candidate->horizon < best.horizon)) break;
    best = std::move(*candidate);
    ++result.neighborhood_improvements;
  }
  return result;
}

}  // namespace tessel_codegen::exchange
