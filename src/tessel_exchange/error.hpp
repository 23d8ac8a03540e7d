#pragma once
// The encoder's one error type: a small copyable value with at most two integers or one static text.

#include <fmt/format.h>

#include <cstdint>
#include <expected>
#include <string>

namespace tessel_exchange {

// The largest word count of one transfer.
inline constexpr std::uint32_t kMaximumTransferWords = 4148;

enum class ExchangeErrorKind : std::uint8_t {
  ValidationBudgetExceeded,
  Tile,
  DuplicateTile,
  Count,
  ReceiverSet,
  Schedule,
  PlanOffsetRange,
  Address,
  HostPacket,
};

class ExchangeError {
 public:
  static constexpr ExchangeError validation_budget_exceeded() {
    return ExchangeError(ExchangeErrorKind::ValidationBudgetExceeded);
  }
  static constexpr ExchangeError tile(std::uint16_t logical_tile) {
    return ExchangeError(ExchangeErrorKind::Tile, logical_tile);
  }
  static constexpr ExchangeError duplicate_tile() { return ExchangeError(ExchangeErrorKind::DuplicateTile); }
  static constexpr ExchangeError count(std::uint32_t words) { return ExchangeError(ExchangeErrorKind::Count, words); }
  static constexpr ExchangeError receiver_set() { return ExchangeError(ExchangeErrorKind::ReceiverSet); }
  static constexpr ExchangeError schedule(const char* reason) {
    ExchangeError e(ExchangeErrorKind::Schedule);
    e.reason_ = reason;
    return e;
  }
  static constexpr ExchangeError plan_offset_range(std::uint32_t cycles, std::uint32_t maximum) {
    return ExchangeError(ExchangeErrorKind::PlanOffsetRange, cycles, maximum);
  }
  static constexpr ExchangeError address(std::uint32_t byte_address) {
    return ExchangeError(ExchangeErrorKind::Address, byte_address);
  }
  static constexpr ExchangeError host_packet() { return ExchangeError(ExchangeErrorKind::HostPacket); }

  constexpr ExchangeErrorKind kind() const { return kind_; }
  // Payloads; meaningful only for the variant that carries them.
  constexpr std::uint16_t tile_number() const { return static_cast<std::uint16_t>(first_); }
  constexpr std::uint32_t words() const { return first_; }
  constexpr std::uint32_t cycles() const { return first_; }
  constexpr std::uint32_t maximum() const { return second_; }
  constexpr std::uint32_t byte_address() const { return first_; }
  constexpr const char* reason() const { return reason_; }

  // True for a Schedule error with exactly this reason text.
  bool is_schedule(const char* reason) const;

  // The display text, as the user sees it.
  std::string to_string() const;
  // The diagnostic form: the variant name and its payload.
  std::string debug() const;

  friend bool operator==(const ExchangeError& a, const ExchangeError& b);

 private:
  constexpr explicit ExchangeError(ExchangeErrorKind kind, std::uint32_t first = 0, std::uint32_t second = 0)
      : kind_(kind), first_(first), second_(second) {}

  ExchangeErrorKind kind_;
  std::uint32_t first_ = 0;
  std::uint32_t second_ = 0;
  const char* reason_ = nullptr;
};

template <class T>
using Result = std::expected<T, ExchangeError>;

}  // namespace tessel_exchange

template <>
struct fmt::formatter<tessel_exchange::ExchangeError> : fmt::formatter<std::string> {
  auto format(const tessel_exchange::ExchangeError& error, fmt::format_context& ctx) const {
    return fmt::formatter<std::string>::format(error.to_string(), ctx);
  }
};
