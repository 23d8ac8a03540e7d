#include "tessel_codegen/exchange/snapshot.hpp"

namespace tessel_codegen::exchange {

const char* width_name(ExchangeItemWidth width) {
  return width == ExchangeItemWidth::Paired64 ? "Paired64" : "Word32";
}

Result<void> ExchangeScheduleSnapshot::validate() const {
  // Schema, tile count and transfer checks are added with the transfer conversion.
  return {};
}

}  // namespace tessel_codegen::exchange
