#pragma once
// The scheduler's result for one phase: every tile's program, horizons and activities.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tessel_codegen/exchange/activity.hpp"

namespace tessel_codegen::exchange {

struct PhysicalExchangePhase {
  std::uint32_t phase = 0;
  std::uint32_t horizon = 0;
  // Per tile, tile_count entries each.
  std::vector<bool> active;
  std::vector<std::vector<std::uint32_t>> programs;  // an inactive tile has the single Return word
  std::vector<std::uint32_t> incoming_bases;
  std::vector<std::uint32_t> tile_horizons;
  std::vector<std::vector<ExchangeActivity>> activities;
  std::vector<std::vector<ExchangeRowPatch>> repeat_patches;
  // Statistics for the report; not part of the generated code.
  std::size_t neighborhood_improvements = 0;
  std::uint32_t initial_horizon = 0;
  std::uint32_t endpoint_lower_bound = 0;

  // Equality of the generated code: every field but the three statistics.
  bool same_output(const PhysicalExchangePhase& other) const {
    return phase == other.phase && horizon == other.horizon && active == other.active &&
           programs == other.programs && incoming_bases == other.incoming_bases &&
           tile_horizons == other.tile_horizons && activities == other.activities &&
           repeat_patches == other.repeat_patches;
  }
};

}  // namespace tessel_codegen::exchange
