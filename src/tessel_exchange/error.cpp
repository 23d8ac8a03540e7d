#include "tessel_exchange/error.hpp"

#include <cstring>

namespace tessel_exchange {

bool ExchangeError::is_schedule(const char* reason) const {
  return kind_ == ExchangeErrorKind::Schedule && reason_ != nullptr && std::strcmp(reason_, reason) == 0;
}

std::string ExchangeError::to_string() const {
  switch (kind_) {
    case ExchangeErrorKind::ValidationBudgetExceeded:
      return "exchange incremental-encoding work budget exhausted";
    case ExchangeErrorKind::Tile:
      return fmt::format("logical tile {} is out of range", tile_number());
    case ExchangeErrorKind::DuplicateTile:
      return "exchange endpoints must be distinct";
    case ExchangeErrorKind::Count:
      return fmt::format("exchange count {} is outside 1..={}", first_, kMaximumTransferWords);
    case ExchangeErrorKind::ReceiverSet:
      return "invalid multicast receiver set";
    case ExchangeErrorKind::Schedule:
      return fmt::format("exchange schedule is not encodable: {}", reason_ ? reason_ : "");
    case ExchangeErrorKind::PlanOffsetRange:
      return fmt::format(
          "exchange event offset {} cycles from the phase-entry sync exceeds the encodable maximum of {} cycles",
          first_, second_);
    case ExchangeErrorKind::Address:
      return fmt::format("tile address 0x{:x} is not encodable", first_);
    case ExchangeErrorKind::HostPacket:
      return "host exchange address or length is not encodable";
  }
  return "unknown exchange error";
}

std::string ExchangeError::debug() const {
  switch (kind_) {
    case ExchangeErrorKind::ValidationBudgetExceeded: return "ValidationBudgetExceeded";
    case ExchangeErrorKind::Tile: return fmt::format("Tile({})", tile_number());
    case ExchangeErrorKind::DuplicateTile: return "DuplicateTile";
    case ExchangeErrorKind::Count: return fmt::format("Count({})", first_);
    case ExchangeErrorKind::ReceiverSet: return "ReceiverSet";
    case ExchangeErrorKind::Schedule: return fmt::format("Schedule(\"{}\")", reason_ ? reason_ : "");
    case ExchangeErrorKind::PlanOffsetRange:
      return fmt::format("PlanOffsetRange {{ cycles: {}, maximum: {} }}", first_, second_);
    case ExchangeErrorKind::Address: return fmt::format("Address({})", first_);
    case ExchangeErrorKind::HostPacket: return "HostPacket";
  }
  return "Unknown";
}

bool operator==(const ExchangeError& a, const ExchangeError& b) {
  if (a.kind_ != b.kind_ || a.first_ != b.first_ || a.second_ != b.second_) return false;
  if (a.reason_ == b.reason_) return true;
  return a.reason_ != nullptr && b.reason_ != nullptr && std::strcmp(a.reason_, b.reason_) == 0;
}

}  // namespace tessel_exchange
