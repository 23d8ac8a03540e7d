#pragma once
// Order repair: rebuilds a complete transfer order from the order of a materialized schedule and
// its critical neighborhood with a list scheduler over a simple tile timing model. Transfers with
// the same endpoints form a group that proposes its best ready transfer; a version-checked max-heap
// picks the best proposal of all groups.

#include <compare>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "tessel_codegen/exchange/pending_transfer.hpp"

namespace tessel_codegen::exchange::order {

// How good a transfer is as the next one to place. The better key compares greater; fields decide
// in declaration order.
struct RepairReady {
  std::uint32_t ready_cycle = 0;            // smaller is better: all tiles of the transfer are ready
  std::size_t bucket = 0;                   // smaller is better: order_position / bucket width
  std::size_t continuing_destinations = 0;  // larger is better: destinations at their tile's receive cursor
  bool critical = false;                    // true is better: in the critical neighborhood
  std::uint64_t endpoint_work = 0;          // larger is better: unplaced work on the transfer's tiles
  std::size_t order_position = 0;           // smaller is better: position in the current order
  std::size_t transfer = 0;                 // smaller is better: the transfer index, unique

  bool operator==(const RepairReady&) const = default;
  std::strong_ordering operator<=>(const RepairReady& other) const;
};

// The timing model, per tile.
struct RepairTileState {
  std::vector<std::uint32_t> send_ready;     // end of the last placed transfer sent (as source or partner)
  std::vector<std::uint32_t> receive_ready;  // end of the last placed transfer received
  // Just past the payload of the last placed transfer received; absent when that is beyond u32.
  std::vector<std::optional<std::uint32_t>> receive_cursor;
  std::vector<std::uint64_t> endpoint_work;  // transfer cycles of the unplaced transfers touching the tile

  // Every tile ready at cycle 0 without a cursor, carrying the work of all `transfers`.
  RepairTileState(const std::vector<PendingTransfer>& transfers, std::uint16_t tile_count);

  // Occupies the transfer's tiles from `ready_cycle` for its transfer cycles, moves its destinations'
  // cursors past the payload and takes its cycles off the endpoint work. False, with nothing
  // changed, when the end cycle or the payload's byte count does not fit u32.
  bool place(const PendingTransfer& transfer, std::uint32_t ready_cycle);
};

// What ranking a transfer reads; the tile state is the live one of the pass.
struct RepairContext {
  const std::vector<PendingTransfer>& transfers;
  const RepairTileState& tiles;
  const std::vector<std::size_t>& order_positions;  // per transfer; 0 for one missing from the order
  std::size_t bucket_width;
  const std::vector<bool>& critical;  // per transfer
};

// Width of the order-position buckets for n transfers: floor(sqrt(n)), at least 1.
std::size_t repair_bucket_width(std::size_t transfer_count);

// The key of transfer `t` under the current tile state.
RepairReady repair_ready(std::size_t t, const RepairContext& context);

// The part of the key that does not change while the pass runs: ready_cycle,
// continuing_destinations and endpoint_work are 0.
RepairReady repair_static_key(std::size_t t, const RepairContext& context);

// The transfers of one endpoint signature (source, partner, destination tiles as a set).
struct RepairGroup {
  std::set<RepairReady> ready;  // static keys of the ready, unplaced transfers
  // Every destination of every transfer of the group, with its transfers in ascending index.
  std::map<std::pair<std::uint16_t, std::uint32_t>, std::vector<std::size_t>> by_destination;
  std::size_t version = 0;  // raised whenever the proposal may have changed

  // The greatest key among the ready transfers, absent when none is ready: the first ready transfer
  // in static order, unless a transfer of its bucket continues an open receive stream on one of the
  // group's destination tiles and ranks higher.
  std::optional<RepairReady> best(const RepairContext& context) const;
};

// A new order of all transfers that respects every memory dependency; a copy of `current_order`
// when the timing model overflows or some transfer never gets ready. `critical` marks the
// critical neighborhood, one flag per transfer.
std::vector<std::size_t> repair_order(const std::vector<PendingTransfer>& transfers, std::uint16_t tile_count,
                                      const std::vector<std::size_t>& current_order,
                                      const std::vector<bool>& critical);

}  // namespace tessel_codegen::exchange::order
