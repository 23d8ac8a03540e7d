#pragma once
// The exchange-schedule snapshot: every physical exchange phase of one compiled program with the
// transfers to be made. Plain records; fields in declared order (the order of the array form).

#include <cstdint>
#include <vector>

#include "tessel_codegen/exchange/lowering_error.hpp"

namespace tessel_codegen::exchange {

// The only schema version this program reads.
inline constexpr std::uint32_t kSnapshotSchemaVersion = 3;

enum class ExchangeItemWidth : std::uint8_t { Word32, Paired64 };

const char* width_name(ExchangeItemWidth width);

struct ExchangeScheduleDestination {
  std::uint16_t tile = 0;
  std::uint32_t address = 0;
  bool operator==(const ExchangeScheduleDestination&) const = default;
};

struct ExchangeScheduleTransfer {
  std::uint16_t source = 0;
  std::vector<std::uint32_t> source_addresses;
  std::vector<ExchangeScheduleDestination> destinations;
  std::uint32_t words = 0;
  ExchangeItemWidth width = ExchangeItemWidth::Word32;
  bool operator==(const ExchangeScheduleTransfer&) const = default;
};

struct ExchangeScheduleProblem {
  std::uint32_t phase = 0;
  std::vector<ExchangeScheduleTransfer> transfers;
  bool operator==(const ExchangeScheduleProblem&) const = default;
};

struct ExchangeScheduleSnapshot {
  std::uint32_t schema_version = 0;
  std::uint16_t tile_count = 0;
  std::vector<ExchangeScheduleProblem> phases;

  // Checks the whole snapshot: schema version, tile count, unique phase IDs and every transfer.
  Result<void> validate() const;

  bool operator==(const ExchangeScheduleSnapshot&) const = default;
};

}  // namespace tessel_codegen::exchange
