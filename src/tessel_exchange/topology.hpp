#pragma once
// The card's tile topology: logical tile number -> physical tile id, and the geometry derived from ids.

#include <cstdint>
#include <array>
#include <span>
#include <utility>
#include <vector>

#include "tessel_exchange/error.hpp"
#include "tessel_exchange/words.hpp"

namespace tessel_exchange {

// Number of tiles of the R912 card.
inline constexpr std::size_t kR912TileCount = 1472;

// Fields of a physical tile id.
inline constexpr std::uint32_t side_bit(std::uint16_t id) { return id & 1u; }
inline constexpr std::uint32_t pair_bit(std::uint16_t id) { return (id >> 1) & 1u; }
inline constexpr std::uint32_t column(std::uint16_t id) { return (id >> 2) & 15u; }
inline constexpr std::uint32_t half(std::uint16_t id) { return (id >> 5) & 1u; }
inline constexpr std::uint32_t position(std::uint16_t id) { return (id >> 6) & 31u; }

// Columns 0-7 fold onto themselves, 8-15 onto 7-0.
inline constexpr std::uint32_t fold(std::uint32_t column_number) {
  return column_number < 8 ? column_number : 15 - column_number;
}

// Lane offset (1-5) of a receiving tile.
inline constexpr std::uint32_t lane_offset(std::uint16_t receiver) {
  const bool side_is_half = side_bit(receiver) == half(receiver);
  if (pair_bit(receiver) == 0) return side_is_half ? 1 : 5;
  return side_is_half ? 2 : 4;
}

// Sender skew: side bit XOR half.
inline constexpr std::uint32_t skew(std::uint16_t sender) { return side_bit(sender) ^ half(sender); }

// Signed exchange distance between a sender and a receiver; never 0.
inline constexpr std::int32_t exchange_distance(std::uint16_t sender, std::uint16_t receiver) {
  const std::int32_t columns = static_cast<std::int32_t>(fold(column(receiver))) -
                               static_cast<std::int32_t>(fold(column(sender))) -
                               static_cast<std::int32_t>(skew(sender));
  return 6 * columns + static_cast<std::int32_t>(lane_offset(receiver));
}

// Send direction from sender to receiver: 1 when the distance is positive, otherwise 2.
inline constexpr std::uint32_t direction(std::uint16_t sender, std::uint16_t receiver) {
  return exchange_distance(sender, receiver) > 0 ? 1 : 2;
}

// The rows of one transfer: a sender row and one receiver row per receiver, in receiver order.
struct ExchangeRoute {
  std::vector<ExchangeRow> receiver_rows;
  ExchangeRow sender_row{};
  bool operator==(const ExchangeRoute&) const = default;
};

// A point-to-point route whose receiver row still lacks the sender's physical id (see
// finalize_point_receiver).
struct PointToPointRoute {
  ExchangeRow sender_row{};
  std::uint32_t receiver_patch_index = 0;
  std::array<std::uint32_t, 8> receiver_words{};
  bool operator==(const PointToPointRoute&) const = default;
};

class Topology {
 public:
  // A table of distinct physical ids, at least one.
  static Result<Topology> create(std::vector<std::uint16_t> physical_tiles);
  // The full 1 472-tile R912 layout.
  static Topology r912();
  // The first `tile_count` entries of the R912 layout (1 to 1 472).
  static Result<Topology> r912_prefix(std::size_t tile_count);

  const std::vector<std::uint16_t>& physical_tiles() const { return physical_tiles_; }
  std::size_t tile_count() const { return physical_tiles_.size(); }

  // The physical id of a logical tile, or ExchangeError::Tile.
  Result<std::uint16_t> physical(std::uint16_t logical) const;

  // The logical partner tile (physical id XOR 2), or ExchangeError::Tile with `logical`.
  Result<std::uint16_t> paired_logical(std::uint16_t logical) const;

  // Route builders. Rows are timed relative to the transfer's start; receivers' source selects end
  // time_to_mux + 1 cycles after the sender's first send word starts.
  Result<PointToPointRoute> point_to_point(std::uint16_t sender, std::uint16_t receiver, std::uint32_t words) const;
  Result<ExchangeRoute> multicast(std::uint16_t sender, std::span<const std::uint16_t> receivers, std::uint32_t words,
                                  std::uint32_t start_offset) const;
  // A paired 64-bit transfer of `rows` rows whose receivers come in partner pairs.
  Result<ExchangeRoute> paired_multicast(std::uint16_t sender, std::span<const std::uint16_t> receivers,
                                         std::uint32_t rows) const;
  Result<ExchangeRow> paired_receiver_row(std::uint16_t sender, std::uint16_t receiver, std::uint32_t rows,
                                          std::int32_t base_correction) const;

  bool operator==(const Topology& other) const { return physical_tiles_ == other.physical_tiles_; }

 private:
  explicit Topology(std::vector<std::uint16_t> physical_tiles);

  std::vector<std::uint16_t> physical_tiles_;
  // (physical id, logical tile) sorted ascending: the reverse lookup for partners.
  std::vector<std::pair<std::uint16_t, std::uint16_t>> logical_by_physical_;
};

// Physical id of logical tile i in the R912 layout (i < 1 472).
std::uint16_t r912_physical_tile(std::size_t logical);

}  // namespace tessel_exchange
