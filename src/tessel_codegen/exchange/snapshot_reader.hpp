#pragma once
// Reads an exchange-schedule snapshot from JSON text.

#include <expected>
#include <string>
#include <string_view>

#include "tessel_codegen/exchange/snapshot.hpp"

namespace tessel_codegen::exchange {

// A reading error; the message ends with " at line L column C" except for input/output failures.
struct SnapshotReadError {
  std::string message;
  bool operator==(const SnapshotReadError&) const = default;
};

// Parses one whole JSON document.
std::expected<ExchangeScheduleSnapshot, SnapshotReadError> read_snapshot(std::string_view json);

}  // namespace tessel_codegen::exchange
