#include "tessel_codegen/exchange/activity.hpp"

namespace tessel_codegen::exchange {

const char* activity_kind_name(ExchangeActivityKind kind) {
  switch (kind) {
    case ExchangeActivityKind::Send: return "Send";
    case ExchangeActivityKind::Receive: return "Receive";
    case ExchangeActivityKind::PartnerBusy: return "PartnerBusy";
  }
  return "Unknown";
}

}  // namespace tessel_codegen::exchange
