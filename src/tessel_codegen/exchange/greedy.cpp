#include "tessel_codegen/exchange/greedy.hpp"

#include <algorithm>
#include <bit>
#include <limits>
#include <map>
#include <tuple>

#include "support/invariant.hpp"
#include "support/result.hpp"
#include "tessel_codegen/exchange/memory_dependencies.hpp"

namespace tessel_codegen::exchange {

bool operator<(const ReadyTransfer& a, const ReadyTransfer& b) {
  // Reversed fields compare the other way round, so that "greater" means "placed first".
  return std::tie(b.ready, a.work, a.destinations, a.cost, b.source, b.transfer) <
         std::tie(a.ready, b.work, b.destinations, b.cost, a.source, a.transfer);
}

namespace {

constexpr std::size_t kNoGroup = std::numeric_limits<std::size_t>::max();
constexpr std::size_t kLazyRekeyQueue = 128;

struct TransferScheduler {
  const std::vector<PendingTransfer>& transfers;
  std::vector<std::uint64_t> tile_work;
  std::vector<std::vector<std::size_t>> successors;
  std::vector<std::size_t> indegree;
  std::vector<std::uint32_t> ready_at;
  std::vector<ReadyTransfer> heads;  // a max-heap
  std::vector<std::vector<ReadyTransfer>> groups;
  std::vector<std::size_t> group_of;
  bool has_multicast = false;

  std::uint64_t work_of(const PendingTransfer& t) const {
    std::uint64_t work = 0;
    t.for_each_tile([&](std::uint16_t tile) { work += tile_work[tile]; });
    return work;
  }

  ReadyTransfer entry(std::size_t index, std::uint32_t ready) const {
    const PendingTransfer& t = transfers[index];
    return {ready, work_of(t), t.destinations.size(), transfer_cycles(t), t.source, index};
  }

  std::uint32_t fresh_ready(std::size_t index, const std::vector<TileReadiness>& tile_ready) const {
    const PendingTransfer& t = transfers[index];
    std::uint32_t ready = std::max(ready_at[index], tile_ready[t.source].send);
    if (t.paired_source) ready = std::max(ready, tile_ready[*t.paired_source].send);
    for (const auto& destination : t.destinations) ready = std::max(ready, tile_ready[destination.first].receive);
    return ready;
  }

  // Re-evaluates an entry; true when it changed.
  bool refresh(ReadyTransfer& e, const std::vector<TileReadiness>& tile_ready) const {
    const std::uint32_t ready = fresh_ready(e.transfer, tile_ready);
    const std::uint64_t work = has_multicast ? work_of(transfers[e.transfer]) : e.work;
    if (ready == e.ready && work == e.work) return false;
    e.ready = ready;
    e.work = work;
    return true;
  }
};

// Restores the heap after the root's key changed.
void sift_down_root(std::vector<ReadyTransfer>& heap) {
  std::size_t i = 0;
  const std::size_t n = heap.size();
  for (;;) {
    const std::size_t left = 2 * i + 1;
    if (left >= n) return;
    std::size_t larger = left;
    if (left + 1 < n && heap[left] < heap[left + 1]) larger = left + 1;
    if (!(heap[i] < heap[larger])) return;
    std::swap(heap[i], heap[larger]);
    i = larger;
  }
}

using GroupKey = std::tuple<std::uint16_t, std::optional<std::uint16_t>, std::vector<std::uint16_t>>;

}  // namespace

Result<MaterializedSchedule> materialize_greedy_schedule_impl(const tessel_exchange::Topology& topology,
                                                              const std::vector<PendingTransfer>& transfers,
                                                              const ReceiveConfiguration& receive,
                                                              std::uint16_t tile_count, bool incremental_validation) {
  MaterializedSchedule schedule = MaterializedSchedule::create(tile_count, transfers);
  const std::size_t n = transfers.size();
  TransferScheduler state{transfers, std::vector<std::uint64_t>(tile_count, 0), std::vector<std::vector<std::size_t>>(n),
                          std::vector<std::size_t>(n, 0), std::vector<std::uint32_t>(n, 0), {}, {},
                          std::vector<std::size_t>(n, kNoGroup), false};

  for (const PendingTransfer& t : transfers) {
    const std::uint32_t cost = transfer_cycles(t);
    t.for_each_tile([&](std::uint16_t tile) { state.tile_work[tile] += cost; });
    state.has_multicast = state.has_multicast || t.destinations.size() >= 2;
  }
  for (const auto& [before, after] : memory_dependencies(transfers, tile_count)) {
    state.successors[before].push_back(after);
    ++state.indegree[after];
  }

  // Initially ready transfers with identical endpoints queue behind each other.
  std::map<GroupKey, std::size_t> group_index;
  for (std::size_t i = 0; i < n; ++i) {
    if (state.indegree[i] != 0) continue;
    const PendingTransfer& t = transfers[i];
    std::vector<std::uint16_t> tiles;
    tiles.reserve(t.destinations.size());
    for (const auto& destination : t.destinations) tiles.push_back(destination.first);
    auto [it, inserted] = group_index.try_emplace(GroupKey{t.source, t.paired_source, std::move(tiles)}, state.groups.size());
    if (inserted) state.groups.emplace_back();
    state.group_of[i] = it->second;
    auto& group = state.groups[it->second];
    group.push_back(state.entry(i, 0));
    std::push_heap(group.begin(), group.end());
  }
  for (const auto& group : state.groups)
    if (!group.empty()) state.heads.push_back(group.front());
  std::make_heap(state.heads.begin(), state.heads.end());

  std::vector<LastTransfer> last(tile_count);
  while (!state.heads.empty()) {
    std::size_t stale = 0;
    for (;;) {
      support::check_invariant(!state.heads.empty(), "ready head");
      ReadyTransfer& head = state.heads.front();
      if (!state.refresh(head, schedule.tile_ready)) break;
      ++stale;
      const std::size_t size = state.heads.size();
      if (size < kLazyRekeyQueue || static_cast<std::size_t>(std::bit_width(size) - 1) * stale < size) {
        sift_down_root(state.heads);
      } else {
        for (ReadyTransfer& e : state.heads) state.refresh(e, schedule.tile_ready);
        std::make_heap(state.heads.begin(), state.heads.end());
      }
    }

    std::pop_heap(state.heads.begin(), state.heads.end());
    const ReadyTransfer taken = state.heads.back();
    state.heads.pop_back();
    const std::size_t t = taken.transfer;
    if (state.group_of[t] != kNoGroup) {
      auto& group = state.groups[state.group_of[t]];
      support::check_invariant(!group.empty(), "nonempty ready group");
      std::pop_heap(group.begin(), group.end());
      group.pop_back();
      if (!group.empty()) {
        ReadyTransfer next = group.front();
        next.ready = taken.ready;
        state.heads.push_back(next);
        std::push_heap(state.heads.begin(), state.heads.end());
      }
    }

    const std::uint32_t end = TESSEL_TRY(schedule.append(topology, transfers, receive.incoming_bases, receive.receive_counts, t,
                                                         state.ready_at[t], incremental_validation, last));
    if (state.has_multicast) {
      const std::uint64_t cost = transfer_cycles(transfers[t]);
      transfers[t].for_each_tile([&](std::uint16_t tile) {
        state.tile_work[tile] = state.tile_work[tile] > cost ? state.tile_work[tile] - cost : 0;
      });
    }
    for (std::size_t successor : state.successors[t]) {
      state.ready_at[successor] = std::max(state.ready_at[successor], end);
      if (--state.indegree[successor] == 0) {
        state.heads.push_back(state.entry(successor, state.ready_at[successor]));
        std::push_heap(state.heads.begin(), state.heads.end());
      }
    }
    state.successors[t].clear();
  }

  schedule.horizon = schedule.builder.event_cycles();
  return schedule;
}

}  // namespace tessel_codegen::exchange
