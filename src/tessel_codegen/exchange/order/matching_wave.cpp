#include "tessel_codegen/exchange/order/matching_wave.hpp"

#include <algorithm>
#include <cstdint>
#include <tuple>

#include "support/invariant.hpp"
#include "tessel_codegen/exchange/memory_dependencies.hpp"

namespace tessel_codegen::exchange::order {

namespace {

// Level of a source tile that the breadth-first search has not reached, or that has no augmenting
// path left in this round.
constexpr std::size_t kNoLevel = SIZE_MAX;
// Order position of a transfer missing from the current order.
constexpr std::size_t kNoPosition = SIZE_MAX;

// A tile that neither sends nor receives more than twice its fair share of the waves: beyond that,
// waves are mostly single transfers of the overloaded tile and the order has nothing to gain.
constexpr std::size_t kBalanceFactor = 2;

std::uint16_t destination_tile(const PendingTransfer& transfer) { return transfer.destinations.front().first; }

bool costable(const PendingTransfer& transfer) {
  return transfer.words != 0 && !(transfer.width == ExchangeItemWidth::Paired64 && transfer.words % 2 != 0);
}

bool balanced(const std::vector<PendingTransfer>& transfers, std::uint16_t tile_count) {
  std::vector<std::size_t> sends(tile_count, 0);
  std::vector<std::size_t> receives(tile_count, 0);
  for (const PendingTransfer& transfer : transfers) {
    const std::uint16_t destination = destination_tile(transfer);
    support::check_invariant(transfer.source < tile_count && destination < tile_count, "index out of range");
    ++sends[transfer.source];
    ++receives[destination];
  }
  std::size_t senders = 0;
  std::size_t receivers = 0;
  std::size_t max_degree = 0;
  for (std::size_t tile = 0; tile < tile_count; ++tile) {
    senders += sends[tile] != 0;
    receivers += receives[tile] != 0;
    max_degree = std::max({max_degree, sends[tile], receives[tile]});
  }
  const std::size_t n = transfers.size();
  const std::size_t m = std::max<std::size_t>(1, std::min(senders, receivers));
  const std::size_t fair_share = n / m + (n % m != 0);
  return max_degree <= kBalanceFactor * fair_share;
}

// Per-call working state, sized once and reused by every wave.
struct WaveState {
  std::vector<std::vector<std::size_t>> ready_lists;  // per source tile
  std::vector<std::uint16_t> source_set;
  std::vector<std::optional<std::size_t>> match_of_source;
  std::vector<std::optional<std::uint16_t>> match_of_destination;
  std::vector<std::size_t> level;
  std::vector<std::uint16_t> queue;
  std::vector<AugmentFrame> stack;
  std::vector<std::size_t> wave;

  explicit WaveState(std::uint16_t tile_count)
      : ready_lists(tile_count), match_of_source(tile_count), match_of_destination(tile_count),
        level(tile_count, kNoLevel) {
    source_set.reserve(tile_count);
    queue.reserve(tile_count);
    stack.reserve(tile_count);
    wave.reserve(tile_count);
  }
};

// Hopcroft-Karp over the ready lists of the source set: breadth-first levels from the unmatched
// source tiles, then augmenting paths along them, until a round finds no free destination or
// augments nothing.
void maximum_ready_matching(const std::vector<PendingTransfer>& transfers, WaveState& state) {
  std::fill(state.match_of_source.begin(), state.match_of_source.end(), std::nullopt);
  std::fill(state.match_of_destination.begin(), state.match_of_destination.end(), std::nullopt);
  std::fill(state.level.begin(), state.level.end(), kNoLevel);
  while (true) {
    state.queue.clear();
    for (std::uint16_t u : state.source_set) {
      if (state.match_of_source[u]) {
        state.level[u] = kNoLevel;
      } else {
        state.level[u] = 0;
        state.queue.push_back(u);
      }
    }
    // The search runs to the end rather than stopping at the first layer with a free destination.
    bool found = false;
    for (std::size_t head = 0; head < state.queue.size(); ++head) {
      const std::uint16_t u = state.queue[head];
      for (std::size_t t : state.ready_lists[u]) {
        const auto& matched = state.match_of_destination[destination_tile(transfers[t])];
        if (!matched) {
          found = true;
        } else if (state.level[*matched] == kNoLevel) {
          state.level[*matched] = state.level[u] + 1;
          state.queue.push_back(*matched);
        }
      }
    }
    if (state.source_set.empty() || !found) return;

    bool augmented = false;
    for (std::uint16_t u : state.source_set) {
      if (state.match_of_source[u])
        continue;
      if (augment_ready_matching(u, transfers, state.ready_lists, state.match_of_source,
                                 state.match_of_destination, state.level, state.stack))
        augmented = true;
    }
    if (!augmented) return;
  }
}

}  // namespace

bool augment_ready_matching(std::uint16_t source, const std::vector<PendingTransfer>& transfers,
                            const std::vector<std::vector<std::size_t>>& ready_lists,
                            std::vector<std::optional<std::size_t>>& match_of_source,
                            std::vector<std::optional<std::uint16_t>>& match_of_destination,
                            std::vector<std::size_t>& level, std::vector<AugmentFrame>& stack) {
  // Each frame is one source tile on the path; its `edge` is the ready transfer being tried. A frame
  // that finishes reports to the frame below, which either takes the edge it descended through (the
  // child has re-matched its tile elsewhere) or moves on to its next edge. Levels grow by one per
  // frame, so the path never revisits a tile and `level[u] + 1` never wraps.
  stack.clear();
  stack.push_back({source, 0});
  bool found = false;    // outcome of the frame that finished last
  bool resumed = false;  // the top frame is resumed after its child finished
  while (!stack.empty()) {
    AugmentFrame& frame = stack.back();
    const std::uint16_t u = frame.source;
    const std::vector<std::size_t>& edges = ready_lists[u];
    if (resumed) {
      resumed = false;
      if (!found) ++frame.edge;
    }
    std::optional<std::uint16_t> deeper;
    if (!found) {
      for (; frame.edge < edges.size(); ++frame.edge) {
        const auto& matched = match_of_destination[destination_tile(transfers[edges[frame.edge]])];
        if (!matched) {
          found = true;
          break;
        }
        if (level[*matched] == level[u] + 1) {
          deeper = *matched;
          break;
        }
      }
    }
    if (deeper) {
      stack.push_back({*deeper, 0});
      continue;
    }
    if (found) {
      const std::size_t t = edges[frame.edge];
      match_of_source[u] = t;
      match_of_destination[destination_tile(transfers[t])] = u;
    } else {
      level[u] = kNoLevel;
    }
    stack.pop_back();
    resumed = true;
  }
  return found;
}

std::optional<std::vector<std::size_t>> point_to_point_matching_wave_order(
    const std::vector<PendingTransfer>& transfers, std::uint16_t tile_count,
    const std::vector<std::size_t>& current_order) {
  const std::size_t n = transfers.size();
  if (n < 2) return std::nullopt;
  for (const PendingTransfer& transfer : transfers)
    if (transfer.destinations.size() != 1) return std::nullopt;
  if (!balanced(transfers, tile_count)) return std::nullopt;

  std::vector<std::size_t> position(n, kNoPosition);
  for (std::size_t i = 0; i < current_order.size(); ++i) {
    support::check_invariant(current_order[i] < n, "index out of range");
    position[current_order[i]] = i;
  }

  std::vector<std::vector<std::size_t>> successors(n);
  std::vector<std::size_t> indegree(n, 0);
  for (const auto& [earlier, later] : memory_dependencies(transfers, tile_count)) {
    successors[earlier].push_back(later);
    ++indegree[later];
  }

  std::vector<std::uint32_t> cycles(n);
  std::vector<std::uint64_t> send_work(tile_count, 0);
  std::vector<std::uint64_t> receive_work(tile_count, 0);
  for (std::size_t t = 0; t < n; ++t) {
    if (!costable(transfers[t])) return std::nullopt;
    cycles[t] = transfer_cycles(transfers[t]);
    send_work[transfers[t].source] += cycles[t];
    receive_work[destination_tile(transfers[t])] += cycles[t];
  }

  std::vector<bool> scheduled(n, false);
  std::vector<std::size_t> result;
  result.reserve(n);
  WaveState state(tile_count);

  // Sort keys compare tuples; a reversed field takes its value from the other operand.
  const auto ready_before = [&](std::size_t a, std::size_t b) {
    return std::tuple(position[a], receive_work[destination_tile(transfers[b])], cycles[b], a) <
           std::tuple(position[b], receive_work[destination_tile(transfers[a])], cycles[a], b);
  };
  const auto source_before = [&](std::uint16_t a, std::uint16_t b) {
    return std::tuple(position[state.ready_lists[a].front()], send_work[b], a) <
           std::tuple(position[state.ready_lists[b].front()], send_work[a], b);
  };
  const auto wave_before = [&](std::size_t a, std::size_t b) {
    return std::tuple(position[a], cycles[b], transfers[a].source, destination_tile(transfers[a]), a) <
           std::tuple(position[b], cycles[a], transfers[b].source, destination_tile(transfers[b]), b);
  };

  while (result.size() < n) {
    for (std::uint16_t u : state.source_set) state.ready_lists[u].clear();
    for (std::size_t t = 0; t < n; ++t)
      if (!scheduled[t] && indegree[t] == 0) state.ready_lists[transfers[t].source].push_back(t);

    // Every non-empty list is sorted first: the source key reads each list's earliest transfer.
    state.source_set.clear();
    for (std::uint16_t u = 0; u < tile_count; ++u) {
      std::vector<std::size_t>& ready = state.ready_lists[u];
      if (ready.empty()) continue;
      if (ready.size() >= 2) std::sort(ready.begin(), ready.end(), ready_before);
      state.source_set.push_back(u);
    }
    if (state.source_set.size() >= 2) std::sort(state.source_set.begin(), state.source_set.end(), source_before);

    maximum_ready_matching(transfers, state);

    state.wave.clear();
    for (std::uint16_t u = 0; u < tile_count; ++u)
      if (state.match_of_source[u]) state.wave.push_back(*state.match_of_source[u]);
    if (state.wave.empty()) return std::nullopt;
    if (state.wave.size() >= 2) std::sort(state.wave.begin(), state.wave.end(), wave_before);

    for (std::size_t t : state.wave) {
      scheduled[t] = true;
      result.push_back(t);
      std::uint64_t& sent = send_work[transfers[t].source];
      std::uint64_t& received = receive_work[destination_tile(transfers[t])];
      sent -= std::min<std::uint64_t>(sent, cycles[t]);
      received -= std::min<std::uint64_t>(received, cycles[t]);
      for (std::size_t successor : successors[t]) --indegree[successor];
      successors[t].clear();
    }
  }
  return result;
}

}  // namespace tessel_codegen::exchange::order
