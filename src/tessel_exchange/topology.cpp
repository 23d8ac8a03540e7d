#include "tessel_exchange/topology.hpp"

#include <algorithm>
#include <unordered_set>

#include "support/invariant.hpp"

namespace tessel_exchange {

std::uint16_t r912_physical_tile(std::size_t logical) {
  const std::size_t group = logical / 46;
  const std::size_t step = (logical / 2) % 23;
  const std::size_t pos = group % 2 == 0 ? step : 22 - step;
  const std::size_t col = group / 2;
  const std::size_t side = group % 2;
  const std::size_t pair = logical % 2;
  return static_cast<std::uint16_t>(pos * 64 + col * 4 + pair * 2 + side);
}

Topology::Topology(std::vector<std::uint16_t> physical_tiles) : physical_tiles_(std::move(physical_tiles)) {
  support::check_invariant(physical_tiles_.size() <= 65536, "logical tile count fits u16");
  logical_by_physical_.reserve(physical_tiles_.size());
  for (std::size_t i = 0; i < physical_tiles_.size(); ++i)
    logical_by_physical_.emplace_back(physical_tiles_[i], static_cast<std::uint16_t>(i));
  std::sort(logical_by_physical_.begin(), logical_by_physical_.end());
}

Result<Topology> Topology::create(std::vector<std::uint16_t> physical_tiles) {
  if (physical_tiles.empty()) return std::unexpected(ExchangeError::receiver_set());
  std::unordered_set<std::uint16_t> seen;
  seen.reserve(physical_tiles.size());
  for (std::uint16_t id : physical_tiles)
    if (!seen.insert(id).second) return std::unexpected(ExchangeError::receiver_set());
  return Topology(std::move(physical_tiles));
}

Topology Topology::r912() {
  std::vector<std::uint16_t> tiles(kR912TileCount);
  for (std::size_t i = 0; i < kR912TileCount; ++i) tiles[i] = r912_physical_tile(i);
  return Topology(std::move(tiles));
}

Result<Topology> Topology::r912_prefix(std::size_t tile_count) {
  if (tile_count == 0 || tile_count > kR912TileCount) return std::unexpected(ExchangeError::receiver_set());
  std::vector<std::uint16_t> tiles(tile_count);
  for (std::size_t i = 0; i < tile_count; ++i) tiles[i] = r912_physical_tile(i);
  return Topology(std::move(tiles));
}

Result<std::uint16_t> Topology::physical(std::uint16_t logical) const {
  if (logical >= physical_tiles_.size()) return std::unexpected(ExchangeError::tile(logical));
  return physical_tiles_[logical];
}

Result<std::uint16_t> Topology::paired_logical(std::uint16_t logical) const {
  if (logical >= physical_tiles_.size()) return std::unexpected(ExchangeError::tile(logical));
  const std::uint16_t partner = physical_tiles_[logical] ^ 2u;
  // The lowest logical index holding the partner id comes first among equal ids.
  auto found = std::lower_bound(logical_by_physical_.begin(), logical_by_physical_.end(),
                                std::pair<std::uint16_t, std::uint16_t>{partner, 0});
  if (found == logical_by_physical_.end() || found->first != partner)
    return std::unexpected(ExchangeError::tile(logical));
  return found->second;
}

}  // namespace tessel_exchange
