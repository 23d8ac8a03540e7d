#pragma once
// A phase being turned into real tile programs: transfers are appended one at a time, each routed,
// placed at the earliest offset its tiles' programs and memory allow, and recorded.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "tessel_codegen/exchange/activity.hpp"
#include "tessel_codegen/exchange/lowering_error.hpp"
#include "tessel_codegen/exchange/memory_safety.hpp"
#include "tessel_codegen/exchange/pending_transfer.hpp"
#include "tessel_exchange/phase_builder.hpp"
#include "tessel_exchange/topology.hpp"

namespace tessel_codegen::exchange {

struct TransferPlacement {
  // The transfer that last occupied the relevant side of the critical tile before this one.
  std::optional<std::size_t> critical_predecessor;
  std::uint32_t end = 0;  // latest of the sender's and every receiver's payload end

  bool operator==(const TransferPlacement&) const = default;
};

// Cycles from which a tile's send side and receive side are free.
struct TileReadiness {
  std::uint32_t send = 0;
  std::uint32_t receive = 0;
};

// The last transfers of a tile, kept by the caller across appends.
struct LastTransfer {
  std::optional<std::size_t> last_sender;    // sent from the tile, or borrowed it as paired partner
  std::optional<std::size_t> last_receiver;  // received into the tile
};

struct MaterializedSchedule {
  tessel_exchange::PhaseProgramBuilder builder;
  std::vector<TileReadiness> tile_ready;
  std::vector<TileMemorySchedule> memory;
  std::vector<std::vector<ExchangeActivity>> activities;
  std::vector<std::size_t> order;
  std::vector<std::optional<TransferPlacement>> placements;
  std::uint32_t horizon = 0;  // set by the strategy that finishes the schedule

  // An empty schedule for the phase, with a validation budget sized from its transfers.
  static MaterializedSchedule create(std::uint16_t tile_count, const std::vector<PendingTransfer>& transfers);

  // Routes, places and records transfer `index` at or after `not_before`; returns its end cycle. On an
  // error the schedule is left partly changed and must be dropped.
  Result<std::uint32_t> append(const tessel_exchange::Topology& topology, const std::vector<PendingTransfer>& transfers,
                               const std::vector<std::uint32_t>& incoming_bases,
                               const std::vector<std::size_t>& receive_counts, std::size_t index,
                               std::uint32_t not_before, bool incremental_validation, std::vector<LastTransfer>& last);
};

// The validation work budget of a phase's builder.
std::uint64_t validation_budget_for(std::uint16_t tile_count, const std::vector<PendingTransfer>& transfers);

}  // namespace tessel_codegen::exchange
