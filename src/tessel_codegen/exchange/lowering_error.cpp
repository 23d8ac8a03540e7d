#include "tessel_codegen/exchange/lowering_error.hpp"

namespace tessel_codegen {

namespace storage {

std::string debug_string(AmpOrder role) {
  switch (role) {
    case AmpOrder::Left: return "Left";
    case AmpOrder::TransposedLeft: return "TransposedLeft";
    case AmpOrder::TransposedRight: return "TransposedRight";
    case AmpOrder::Output: return "Output";
    case AmpOrder::TransposedOutput: return "TransposedOutput";
  }
  return "Unknown";
}

std::string debug_string(const BlockMajorOrder& order) {
  return fmt::format("{} {{ row_block: {}, column_block: {} }}",
                     order.kind == BlockMajorOrder::Kind::Matrix ? "Matrix" : "TransposedMatrix", order.row_block,
                     order.column_block);
}

std::string StorageError::to_string() const {
  switch (kind) {
    case StorageErrorKind::WrongShard: return "view does not refer to the supplied shard";
    case StorageErrorKind::InvalidView: return "view extents are not a valid subset of the shard";
    case StorageErrorKind::MatrixRank: return "matrix storage requires a tensor of rank at least two";
    case StorageErrorKind::AmpBlock:
      return fmt::format("AMP {} storage dimensions are incompatible with its block shape", debug_string(role));
    case StorageErrorKind::BlockMajorBlock:
      return fmt::format("block-major {} storage dimensions are incompatible with its block shape",
                         debug_string(order));
    case StorageErrorKind::Overflow: return "tensor storage size overflowed";
  }
  return "unknown storage error";
}

std::string StorageError::debug() const {
  switch (kind) {
    case StorageErrorKind::WrongShard: return "WrongShard";
    case StorageErrorKind::InvalidView: return "InvalidView";
    case StorageErrorKind::MatrixRank: return "MatrixRank";
    case StorageErrorKind::AmpBlock: return fmt::format("AmpBlock {{ role: {} }}", debug_string(role));
    case StorageErrorKind::BlockMajorBlock: return fmt::format("BlockMajorBlock {{ order: {} }}", debug_string(order));
    case StorageErrorKind::Overflow: return "Overflow";
  }
  return "Unknown";
}

}  // namespace storage

namespace exchange {

ExchangeLoweringError ExchangeLoweringError::storage(storage::StorageError error) {
  ExchangeLoweringError e(ExchangeLoweringErrorKind::Storage);
  e.storage_ = error;
  return e;
}

ExchangeLoweringError ExchangeLoweringError::diagnostic_tile(std::uint16_t tile) {
  ExchangeLoweringError e(ExchangeLoweringErrorKind::DiagnosticTile);
  e.tile_ = tile;
  return e;
}

ExchangeLoweringError ExchangeLoweringError::invalid_snapshot(std::string text) {
  ExchangeLoweringError e(ExchangeLoweringErrorKind::InvalidSnapshot);
  e.text_ = std::move(text);
  return e;
}

ExchangeLoweringError ExchangeLoweringError::invariant(std::string text) {
  ExchangeLoweringError e(ExchangeLoweringErrorKind::Invariant);
  e.text_ = std::move(text);
  return e;
}

std::string ExchangeLoweringError::to_string() const {
  switch (kind_) {
    case ExchangeLoweringErrorKind::Exchange: return exchange_.to_string();
    case ExchangeLoweringErrorKind::Storage: return storage_.to_string();
    case ExchangeLoweringErrorKind::UnplacedShard: return "exchange refers to an unplaced shard";
    case ExchangeLoweringErrorKind::InvalidDestination: return "exchange destination is not writable";
    case ExchangeLoweringErrorKind::UnalignedPayload:
      return "exchange payload is not a nonempty whole number of words";
    case ExchangeLoweringErrorKind::SizeMismatch: return "exchange source and destination byte counts differ";
    case ExchangeLoweringErrorKind::Overflow: return "exchange address arithmetic overflowed";
    case ExchangeLoweringErrorKind::IncompatibleRepeatRows:
      return "structured-repeat exchange rows have incompatible shapes";
    case ExchangeLoweringErrorKind::DiagnosticTile:
      return fmt::format("exchange diagnostic refers to missing tile {}", tile_);
    case ExchangeLoweringErrorKind::InvalidSnapshot: return "invalid exchange-schedule snapshot: " + text_;
    case ExchangeLoweringErrorKind::Invariant: return "exchange-schedule invariant failed: " + text_;
  }
  return "unknown exchange lowering error";
}

namespace {
// Quotes a text the way a debug rendering shows strings.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out + "\"";
}
}  // namespace

std::string ExchangeLoweringError::debug() const {
  switch (kind_) {
    case ExchangeLoweringErrorKind::Exchange: return "Exchange(" + exchange_.debug() + ")";
    case ExchangeLoweringErrorKind::Storage: return "Storage(" + storage_.debug() + ")";
    case ExchangeLoweringErrorKind::UnplacedShard: return "UnplacedShard";
    case ExchangeLoweringErrorKind::InvalidDestination: return "InvalidDestination";
    case ExchangeLoweringErrorKind::UnalignedPayload: return "UnalignedPayload";
    case ExchangeLoweringErrorKind::SizeMismatch: return "SizeMismatch";
    case ExchangeLoweringErrorKind::Overflow: return "Overflow";
    case ExchangeLoweringErrorKind::IncompatibleRepeatRows: return "IncompatibleRepeatRows";
    case ExchangeLoweringErrorKind::DiagnosticTile: return fmt::format("DiagnosticTile({})", tile_);
    case ExchangeLoweringErrorKind::InvalidSnapshot: return "InvalidSnapshot(" + quoted(text_) + ")";
    case ExchangeLoweringErrorKind::Invariant: return "Invariant(" + quoted(text_) + ")";
  }
  return "Unknown";
}

}  // namespace exchange
}  // namespace tessel_codegen
