#include "tessel_codegen/exchange/lowering_error.hpp"

#include <gtest/gtest.h>

#include "support/result.hpp"

namespace tessel_codegen::exchange {
namespace {

using storage::AmpOrder;
using storage::BlockMajorOrder;
using storage::StorageError;
using storage::StorageErrorKind;

TEST(ExchangeLoweringError, DisplayAndDebugForms) {
  struct Case {
    ExchangeLoweringError error;
    const char* display;
    const char* debug;
  };
  const Case cases[] = {
      {ExchangeError::schedule("sender payload"), "exchange schedule is not encodable: sender payload",
       "Exchange(Schedule(\"sender payload\"))"},
      {ExchangeLoweringError::storage(StorageError::of(StorageErrorKind::WrongShard)),
       "view does not refer to the supplied shard", "Storage(WrongShard)"},
      {ExchangeLoweringError::storage(StorageError::of(StorageErrorKind::InvalidView)),
       "view extents are not a valid subset of the shard", "Storage(InvalidView)"},
      {ExchangeLoweringError::storage(StorageError::of(StorageErrorKind::MatrixRank)),
       "matrix storage requires a tensor of rank at least two", "Storage(MatrixRank)"},
      {ExchangeLoweringError::storage(StorageError::amp_block(AmpOrder::Output)),
       "AMP Output storage dimensions are incompatible with its block shape", "Storage(AmpBlock { role: Output })"},
      {ExchangeLoweringError::storage(StorageError::amp_block(AmpOrder::TransposedLeft)),
       "AMP TransposedLeft storage dimensions are incompatible with its block shape",
       "Storage(AmpBlock { role: TransposedLeft })"},
      {ExchangeLoweringError::storage(StorageError::block_major_block(BlockMajorOrder{BlockMajorOrder::Kind::Matrix, 4, 8})),
       "block-major Matrix { row_block: 4, column_block: 8 } storage dimensions are incompatible with its block shape",
       "Storage(BlockMajorBlock { order: Matrix { row_block: 4, column_block: 8 } })"},
      {ExchangeLoweringError::storage(StorageError::block_major_block(BlockMajorOrder{BlockMajorOrder::Kind::TransposedMatrix, 1, 2})),
       "block-major TransposedMatrix { row_block: 1, column_block: 2 } storage dimensions are incompatible with its "
       "block shape",
       "Storage(BlockMajorBlock { order: TransposedMatrix { row_block: 1, column_block: 2 } })"},
      {ExchangeLoweringError::storage(StorageError::of(StorageErrorKind::Overflow)), "tensor storage size overflowed",
       "Storage(Overflow)"},
      {ExchangeLoweringError::unplaced_shard(), "exchange refers to an unplaced shard", "UnplacedShard"},
      {ExchangeLoweringError::invalid_destination(), "exchange destination is not writable", "InvalidDestination"},
      {ExchangeLoweringError::unaligned_payload(), "exchange payload is not a nonempty whole number of words",
       "UnalignedPayload"},
      {ExchangeLoweringError::size_mismatch(), "exchange source and destination byte counts differ", "SizeMismatch"},
      {ExchangeLoweringError::overflow(), "exchange address arithmetic overflowed", "Overflow"},
      {ExchangeLoweringError::incompatible_repeat_rows(), "structured-repeat exchange rows have incompatible shapes",
       "IncompatibleRepeatRows"},
      {ExchangeLoweringError::diagnostic_tile(12), "exchange diagnostic refers to missing tile 12",
       "DiagnosticTile(12)"},
      {ExchangeLoweringError::invalid_snapshot("duplicate phase 5"),
       "invalid exchange-schedule snapshot: duplicate phase 5", "InvalidSnapshot(\"duplicate phase 5\")"},
      {ExchangeLoweringError::invariant("line one\nline \"two\""),
       "exchange-schedule invariant failed: line one\nline \"two\"", "Invariant(\"line one\\nline \\\"two\\\"\")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.debug);
    EXPECT_EQ(c.error.to_string(), c.display);
    EXPECT_EQ(fmt::format("{}", c.error), c.display);
    EXPECT_EQ(c.error.debug(), c.debug);
  }
}

Result<int> half_of_tile(tessel_exchange::Result<int> encoder_value) {
  int value = TESSEL_TRY(encoder_value);
  return value / 2;
}

TEST(ExchangeLoweringError, EncoderErrorsPassThroughUnchanged) {
  auto failed = half_of_tile(std::unexpected(ExchangeError::tile(7)));
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().kind(), ExchangeLoweringErrorKind::Exchange);
  EXPECT_EQ(failed.error().exchange_error(), ExchangeError::tile(7));
  EXPECT_EQ(failed.error().to_string(), "logical tile 7 is out of range");
  EXPECT_EQ(half_of_tile(8).value(), 4);
}

}  // namespace
}  // namespace tessel_codegen::exchange
