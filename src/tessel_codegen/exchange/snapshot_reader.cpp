#include "tessel_codegen/exchange/snapshot_reader.hpp"

namespace tessel_codegen::exchange {

std::expected<ExchangeScheduleSnapshot, SnapshotReadError> read_snapshot(std::string_view) {
  return std::unexpected(SnapshotReadError{"not implemented"});
}

}  // namespace tessel_codegen::exchange
