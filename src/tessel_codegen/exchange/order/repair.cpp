#include "tessel_codegen/exchange/order/repair.hpp"

#include <algorithm>
#include <cmath>
#include <tuple>

#include "support/checked.hpp"
#include "support/invariant.hpp"
#include "tessel_codegen/exchange/memory_dependencies.hpp"

namespace tessel_codegen::exchange::order {

std::strong_ordering RepairReady::operator<=>(const RepairReady& other) const {
  // A field where smaller is better compares the operands the other way round.
  if (auto c = other.ready_cycle <=> ready_cycle; c != 0) return c;
  if (auto c = other.bucket <=> bucket; c != 0) return c;
  if (auto c = continuing_destinations <=> other.continuing_destinations; c != 0) return c;
  if (auto c = critical <=> other.critical; c != 0) return c;
  if (auto c = endpoint_work <=> other.endpoint_work; c != 0) return c;
  if (auto c = other.order_position <=> order_position; c != 0) return c;
  return other.transfer <=> transfer;
}

RepairTileState::RepairTileState(const std::vector<PendingTransfer>& transfers, std::uint16_t tile_count)
    : send_ready(tile_count, 0), receive_ready(tile_count, 0), receive_cursor(tile_count),
      endpoint_work(tile_count, 0) {
  for (const PendingTransfer& transfer : transfers) {
    const std::uint32_t cycles = transfer_cycles(transfer);
    transfer.for_each_tile([&](std::uint16_t tile) {
      support::check_invariant(tile < tile_count, "index out of range");
      endpoint_work[tile] += cycles;
    });
  }
}

bool RepairTileState::place(const PendingTransfer& transfer, std::uint32_t ready_cycle) {
  const std::uint32_t cycles = transfer_cycles(transfer);
  const std::optional<std::uint32_t> end = support::checked_add(ready_cycle, cycles);
  const std::optional<std::uint32_t> bytes = support::checked_mul(transfer.words, 4);
  if (!end || !bytes) return false;

  send_ready[transfer.source] = *end;
  if (transfer.paired_source) send_ready[*transfer.paired_source] = *end;
  for (const auto& [tile, address] : transfer.destinations) {
    receive_ready[tile] = *end;
    receive_cursor[tile] = support::checked_add(address, *bytes);
  }
  transfer.for_each_tile([&](std::uint16_t tile) {
    endpoint_work[tile] -= std::min<std::uint64_t>(endpoint_work[tile], cycles);
  });
  return true;
}

std::size_t repair_bucket_width(std::size_t transfer_count) {
  auto root = static_cast<std::size_t>(std::sqrt(static_cast<double>(transfer_count)));
  while (root > 0 && root * root > transfer_count) --root;
  while ((root + 1) * (root + 1) <= transfer_count) ++root;
  return std::max<std::size_t>(root, 1);
}

RepairReady repair_static_key(std::size_t t, const RepairContext& context) {
  RepairReady key;
  key.order_position = context.order_positions[t];
  key.bucket = key.order_position / context.bucket_width;
  key.critical = context.critical[t];
  key.transfer = t;
  return key;
}

RepairReady repair_ready(std::size_t t, const RepairContext& context) {
  const PendingTransfer& transfer = context.transfers[t];
  const RepairTileState& tiles = context.tiles;
  RepairReady key = repair_static_key(t, context);
  key.ready_cycle = tiles.send_ready[transfer.source];
  if (transfer.paired_source) key.ready_cycle = std::max(key.ready_cycle, tiles.send_ready[*transfer.paired_source]);
  for (const auto& [tile, address] : transfer.destinations) {
    key.ready_cycle = std::max(key.ready_cycle, tiles.receive_ready[tile]);
    if (tiles.receive_cursor[tile] == address) ++key.continuing_destinations;
  }
  transfer.for_each_tile([&](std::uint16_t tile) { key.endpoint_work += tiles.endpoint_work[tile]; });
  return key;
}

std::optional<RepairReady> RepairGroup::best(const RepairContext& context) const {
  if (ready.empty()) return std::nullopt;
  const std::size_t top = ready.rbegin()->transfer;
  RepairReady current = repair_ready(top, context);
  // Only a transfer of the same bucket that continues a receive stream can outrank the first one in
  // static order: all transfers of a group share their tiles, hence ready cycle and endpoint work.
  for (const auto& destination : context.transfers[top].destinations) {
    const std::optional<std::uint32_t> cursor = context.tiles.receive_cursor[destination.first];
    if (!cursor) continue;
    const auto continuing = by_destination.find({destination.first, *cursor});
    if (continuing == by_destination.end()) continue;
    for (std::size_t c : continuing->second) {
      if (context.order_positions[c] / context.bucket_width != current.bucket) continue;
      if (!ready.contains(repair_static_key(c, context))) continue;
      const RepairReady fresh = repair_ready(c, context);
      if (fresh >= current) current = fresh;
    }
  }
  return current;
}

namespace {

// Transfers with equal signatures share every tile.
using EndpointSignature = std::tuple<std::uint16_t, std::optional<std::uint16_t>, std::vector<std::uint16_t>>;

struct Proposal {
  RepairReady ready;
  std::size_t group = 0;
  std::size_t version = 0;  // the group's version when the proposal was computed
  std::strong_ordering operator<=>(const Proposal&) const = default;
};

}  // namespace

std::vector<std::size_t> repair_order(const std::vector<PendingTransfer>& transfers, std::uint16_t tile_count,
                                      const std::vector<std::size_t>& current_order,
                                      const std::vector<bool>& critical) {
  const std::size_t n = transfers.size();
  support::check_invariant(critical.size() == n, "index out of range");

  std::vector<std::vector<std::size_t>> successors(n);
  std::vector<std::size_t> indegree(n, 0);
  for (const auto& [earlier, later] : memory_dependencies(transfers, tile_count)) {
    successors[earlier].push_back(later);
    ++indegree[later];
  }

  std::vector<std::size_t> order_positions(n, 0);
  for (std::size_t i = 0; i < current_order.size(); ++i) {
    support::check_invariant(current_order[i] < n, "index out of range");
    order_positions[current_order[i]] = i;
  }

  RepairTileState tiles(transfers, tile_count);
  const RepairContext context{transfers, tiles, order_positions, repair_bucket_width(n), critical};

  std::vector<RepairGroup> groups;
  std::vector<std::size_t> group_of(n);
  {
    std::map<EndpointSignature, std::size_t> group_numbers;
    for (std::size_t t = 0; t < n; ++t) {
      const PendingTransfer& transfer = transfers[t];
      EndpointSignature signature{transfer.source, transfer.paired_source, {}};
      std::vector<std::uint16_t>& destination_tiles = std::get<2>(signature);
      for (const auto& destination : transfer.destinations) destination_tiles.push_back(destination.first);
      std::sort(destination_tiles.begin(), destination_tiles.end());
      const auto [entry, created] = group_numbers.try_emplace(std::move(signature), groups.size());
      if (created) groups.emplace_back();
      group_of[t] = entry->second;
      RepairGroup& group = groups[entry->second];
      for (const auto& destination : transfer.destinations) group.by_destination[destination].push_back(t);
      if (indegree[t] == 0) group.ready.insert(repair_static_key(t, context));
    }
  }

  std::vector<Proposal> heap;
  const auto propose = [&](std::size_t g) {
    if (const std::optional<RepairReady> proposal = groups[g].best(context)) {
      heap.push_back({*proposal, g, groups[g].version});
      std::push_heap(heap.begin(), heap.end());
    }
  };
  for (std::size_t g = 0; g < groups.size(); ++g) propose(g);

  std::vector<std::size_t> order;
  order.reserve(n);
  std::vector<std::size_t> touched;
  while (!heap.empty()) {
    std::pop_heap(heap.begin(), heap.end());
    const Proposal entry = heap.back();
    heap.pop_back();
    RepairGroup& group = groups[entry.group];
    if (entry.version != group.version) continue;  // the group has pushed a newer proposal
    // Proposals of untouched groups may be out of date: an entry is only acted on when exact.
    const std::optional<RepairReady> proposal = group.best(context);
    if (!proposal) continue;
    if (*proposal != entry.ready) {
      heap.push_back({*proposal, entry.group, entry.version});
      std::push_heap(heap.begin(), heap.end());
      continue;
    }

    const std::size_t t = proposal->transfer;
    group.ready.erase(repair_static_key(t, context));
    if (!tiles.place(transfers[t], proposal->ready_cycle)) return current_order;
    order.push_back(t);

    touched.clear();
    touched.push_back(entry.group);
    for (std::size_t successor : successors[t]) {
      if (--indegree[successor] != 0) continue;
      groups[group_of[successor]].ready.insert(repair_static_key(successor, context));
      touched.push_back(group_of[successor]);
    }
    successors[t].clear();
    std::sort(touched.begin(), touched.end());
    touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
    for (std::size_t g : touched) {
      ++groups[g].version;
      propose(g);
    }
  }
  if (order.size() != n) return current_order;
  return order;
}

}  // namespace tessel_codegen::exchange::order
