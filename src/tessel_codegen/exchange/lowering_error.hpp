#pragma once
// The scheduler's one error type. It wraps the encoder's ExchangeError and the storage-layout error so
// that callers handle a single type; its display text is the whole user-visible message.

#include <fmt/format.h>

#include <cstdint>
#include <expected>
#include <string>

#include "tessel_exchange/error.hpp"

namespace tessel_codegen {

namespace storage {

enum class AmpOrder : std::uint8_t { Left, TransposedLeft, TransposedRight, Output, TransposedOutput };

struct BlockMajorOrder {
  enum class Kind : std::uint8_t { Matrix, TransposedMatrix };
  Kind kind = Kind::Matrix;
  std::uint16_t row_block = 0;
  std::uint16_t column_block = 0;
  bool operator==(const BlockMajorOrder&) const = default;
};

enum class StorageErrorKind : std::uint8_t { WrongShard, InvalidView, MatrixRank, AmpBlock, BlockMajorBlock, Overflow };

struct StorageError {
  StorageErrorKind kind = StorageErrorKind::WrongShard;
  AmpOrder role = AmpOrder::Left;  // AmpBlock only
  BlockMajorOrder order;           // BlockMajorBlock only

  static StorageError of(StorageErrorKind kind) { return StorageError{kind, AmpOrder::Left, {}}; }
  static StorageError amp_block(AmpOrder role) { return StorageError{StorageErrorKind::AmpBlock, role, {}}; }
  static StorageError block_major_block(BlockMajorOrder order) {
    return StorageError{StorageErrorKind::BlockMajorBlock, AmpOrder::Left, order};
  }

  std::string to_string() const;
  std::string debug() const;
  bool operator==(const StorageError&) const = default;
};

std::string debug_string(AmpOrder role);
std::string debug_string(const BlockMajorOrder& order);

}  // namespace storage

namespace exchange {

using tessel_exchange::ExchangeError;

enum class ExchangeLoweringErrorKind : std::uint8_t {
  Exchange,
  Storage,
  UnplacedShard,
  InvalidDestination,
  UnalignedPayload,
  SizeMismatch,
  Overflow,
  IncompatibleRepeatRows,
  DiagnosticTile,
  InvalidSnapshot,
  Invariant,
};

class ExchangeLoweringError {
 public:
  // The encoder's errors convert implicitly, so TESSEL_TRY passes them up unchanged.
  ExchangeLoweringError(ExchangeError error)  // NOLINT(google-explicit-constructor)
      : kind_(ExchangeLoweringErrorKind::Exchange), exchange_(error) {}

  static ExchangeLoweringError storage(storage::StorageError error);
  static ExchangeLoweringError unplaced_shard() { return ExchangeLoweringError(ExchangeLoweringErrorKind::UnplacedShard); }
  static ExchangeLoweringError invalid_destination() {
    return ExchangeLoweringError(ExchangeLoweringErrorKind::InvalidDestination);
  }
  static ExchangeLoweringError unaligned_payload() {
    return ExchangeLoweringError(ExchangeLoweringErrorKind::UnalignedPayload);
  }
  static ExchangeLoweringError size_mismatch() { return ExchangeLoweringError(ExchangeLoweringErrorKind::SizeMismatch); }
  static ExchangeLoweringError overflow() { return ExchangeLoweringError(ExchangeLoweringErrorKind::Overflow); }
  static ExchangeLoweringError incompatible_repeat_rows() {
    return ExchangeLoweringError(ExchangeLoweringErrorKind::IncompatibleRepeatRows);
  }
  static ExchangeLoweringError diagnostic_tile(std::uint16_t tile);
  static ExchangeLoweringError invalid_snapshot(std::string text);
  static ExchangeLoweringError invariant(std::string text);

  ExchangeLoweringErrorKind kind() const { return kind_; }
  const ExchangeError& exchange_error() const { return exchange_; }  // Exchange only
  const storage::StorageError& storage_error() const { return storage_; }
  std::uint16_t tile() const { return tile_; }            // DiagnosticTile only
  const std::string& text() const { return text_; }       // InvalidSnapshot and Invariant only

  std::string to_string() const;
  std::string debug() const;

  bool operator==(const ExchangeLoweringError&) const = default;

 private:
  explicit ExchangeLoweringError(ExchangeLoweringErrorKind kind) : kind_(kind) {}

  ExchangeLoweringErrorKind kind_;
  ExchangeError exchange_ = ExchangeError::receiver_set();
  storage::StorageError storage_;
  std::uint16_t tile_ = 0;
  std::string text_;
};

template <class T>
using Result = std::expected<T, ExchangeLoweringError>;

}  // namespace exchange
}  // namespace tessel_codegen

template <>
struct fmt::formatter<tessel_codegen::exchange::ExchangeLoweringError> : fmt::formatter<std::string> {
  auto format(const tessel_codegen::exchange::ExchangeLoweringError& error, fmt::format_context& ctx) const {
    return fmt::formatter<std::string>::format(error.to_string(), ctx);
  }
};
