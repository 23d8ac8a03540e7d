#pragma once
// The tile program schedules of one exchange phase, while transfers are placed one by one: the
// earliest offset at which a transfer fits on all its tiles, its timing at an offset, placing it, and
// finally every tile's encoded and checked program.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "tessel_exchange/error.hpp"
#include "tessel_exchange/tile_schedule.hpp"
#include "tessel_exchange/timing.hpp"
#include "tessel_exchange/topology.hpp"

namespace tessel_exchange {

struct PhasePrograms {
  std::vector<std::optional<std::vector<std::uint32_t>>> programs;  // absent for a tile with horizon 0
  std::vector<std::uint32_t> tile_horizons;
  std::uint32_t horizon = 0;
};

class PhaseProgramBuilder {
 public:
  static PhaseProgramBuilder create(std::uint16_t tile_count);

  // Gives the builder a new work budget for incremental validation, shared by its copies.
  PhaseProgramBuilder with_validation_budget(std::uint64_t budget) &&;
  // The budget handle, so that several builders can draw from one pool.
  void share_validation_budget(std::shared_ptr<std::atomic<std::uint64_t>> budget) {
    validation_budget_ = std::move(budget);
  }
  const std::shared_ptr<std::atomic<std::uint64_t>>& validation_budget() const { return validation_budget_; }

  const std::vector<TileProgramSchedule>& tiles() const { return tiles_; }
  std::size_t tile_count() const { return tiles_.size(); }

  // The largest tile horizon; 0 without tiles.
  std::uint32_t event_cycles() const;

  // The timing a transfer would have at `offset`; changes nothing.
  Result<PhaseTransferTiming> transfer_timing_at(std::uint16_t sender, std::span<const std::uint16_t> receivers,
                                                 const ExchangeRoute& route, std::uint32_t offset,
                                                 std::uint32_t rows) const;

  // The earliest offset at or after `first_allowed` at which the transfer fits every tile it touches,
  // proven by trial encodings of the touched tiles (paid from the validation budget).
  Result<std::uint32_t> earliest_transfer_offset(std::uint16_t sender, std::span<const std::uint16_t> partners,
                                                 std::span<const std::uint16_t> receivers, const ExchangeRoute& route,
                                                 std::uint32_t rows, std::uint32_t first_allowed);
  // The same search on timing constraints alone.
  Result<std::uint32_t> earliest_transfer_offset_deferred(std::uint16_t sender, std::span<const std::uint16_t> partners,
                                                          std::span<const std::uint16_t> receivers,
                                                          const ExchangeRoute& route, std::uint32_t rows,
                                                          std::uint32_t first_allowed) const;

  // Places the transfer at `offset` on all its tiles; on failure no tile changes.
  Result<PhaseTransferTiming> append_transfer_at(std::uint16_t sender, std::span<const std::uint16_t> partners,
                                                 std::span<const std::uint16_t> receivers, const ExchangeRoute& route,
                                                 std::uint32_t offset, std::uint32_t rows);

  // Encodes and validates every active tile's program. Only the encoding caches change.
  Result<PhasePrograms> finish();

 private:
  explicit PhaseProgramBuilder(std::uint16_t tile_count) : tiles_(tile_count) {}

  // The offset that satisfies every timing constraint, searched from `candidate`.
  Result<std::uint32_t> constrained_offset(std::uint16_t sender, std::span<const std::uint16_t> partners,
                                           std::span<const std::uint16_t> receivers, const ExchangeRoute& route,
                                           std::uint32_t rows, std::uint32_t candidate,
                                           std::uint32_t sender_payload_start, std::uint32_t sender_payload_end) const;
  Result<void> charge_validation(std::uint16_t sender, std::span<const std::uint16_t> receivers) const;
  // Encodes the touched tiles with the transfer placed at `offset`, on copies.
  Result<void> trial_encoding(std::uint16_t sender, std::span<const std::uint16_t> receivers, const ExchangeRoute& route,
                              std::uint32_t offset, std::uint32_t rows);

  // The tiles of the last successful trial encoding, already holding the transfer and its encoding.
  // When the same transfer is then appended at the same offset, these copies are committed instead of
  // being built and encoded a second time.
  struct TrialTiles {
    std::uint16_t sender = 0;
    std::vector<std::uint16_t> receivers;
    ExchangeRoute route;
    std::uint32_t offset = 0;
    std::uint32_t rows = 0;
    std::vector<TileProgramSchedule> schedules;  // the sender's, then each receiver's
  };
  static bool trial_matches(const TrialTiles& trial, std::uint16_t sender, std::span<const std::uint16_t> receivers,
                            const ExchangeRoute& route, std::uint32_t offset, std::uint32_t rows);

  // The timing of the receiver row at `position` of a route. A row's timing depends on its words
  // alone, and one append asks for the same rows in every offset search and timing, so the rows of
  // the latest route are remembered by position.
  Result<ReceiveRowTiming> receiver_row_timing(std::size_t position, const ExchangeRow& row) const;

  std::vector<TileProgramSchedule> tiles_;
  std::shared_ptr<std::atomic<std::uint64_t>> validation_budget_;
  std::optional<TrialTiles> last_trial_;
  struct KnownRowTiming {
    bool known = false;
    ExchangeRow row{};
    ReceiveRowTiming timing;
  };
  mutable std::vector<KnownRowTiming> row_timings_;
};

}  // namespace tessel_exchange
