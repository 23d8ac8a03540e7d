#include "tessel_codegen/exchange/snapshot_reader.hpp"

#include <array>
#include <cstdint>
#include <limits>
#include <string_view>

#include "tessel_codegen/exchange/json_reader.hpp"
#include "tessel_codegen/exchange/json_text.hpp"

namespace tessel_codegen::exchange {

namespace {

JsonRead<std::uint16_t> read_u16(JsonCursor& cursor, JsonValue& value) {
  return static_cast<std::uint16_t>(
      TESSEL_TRY(read_unsigned(cursor, value, std::numeric_limits<std::uint16_t>::max(), "u16")));
}

JsonRead<std::uint32_t> read_u32(JsonCursor& cursor, JsonValue& value) {
  return static_cast<std::uint32_t>(
      TESSEL_TRY(read_unsigned(cursor, value, std::numeric_limits<std::uint32_t>::max(), "u32")));
}

constexpr std::array<std::string_view, 2> kWidthVariants = {"Word32", "Paired64"};

JsonRead<ExchangeItemWidth> read_width(JsonCursor& cursor, JsonValue& value) {
  const std::size_t variant =
      TESSEL_TRY(read_unit_variant(cursor, value, "ExchangeItemWidth", kWidthVariants));
  return variant == 0 ? ExchangeItemWidth::Word32 : ExchangeItemWidth::Paired64;
}

// Reads one field of a record into its member with `Read`.
template <class Record, auto Member, auto Read>
JsonRead<void> read_member(JsonCursor& cursor, JsonValue& value, Record& record) {
  record.*Member = TESSEL_TRY(Read(cursor, value));
  return {};
}

constexpr std::array<RecordField<ExchangeScheduleDestination>, 2> kDestinationFields = {{
    {"tile", read_member<ExchangeScheduleDestination, &ExchangeScheduleDestination::tile, read_u16>},
    {"address", read_member<ExchangeScheduleDestination, &ExchangeScheduleDestination::address, read_u32>},
}};

JsonRead<ExchangeScheduleDestination> read_destination(JsonCursor& cursor, JsonValue& value) {
  return read_record(cursor, value, "ExchangeScheduleDestination", kDestinationFields);
}

JsonRead<std::vector<std::uint32_t>> read_source_addresses(JsonCursor& cursor, JsonValue& value) {
  return read_sequence<std::uint32_t>(cursor, value, read_u32);
}

JsonRead<std::vector<ExchangeScheduleDestination>> read_destinations(JsonCursor& cursor, JsonValue& value) {
  return read_sequence<ExchangeScheduleDestination>(cursor, value, read_destination);
}

constexpr std::array<RecordField<ExchangeScheduleTransfer>, 5> kTransferFields = {{
    {"source", read_member<ExchangeScheduleTransfer, &ExchangeScheduleTransfer::source, read_u16>},
    {"source_addresses", read_member<ExchangeScheduleTransfer, &ExchangeScheduleTransfer::source_addresses,
                                     read_source_addresses>},
    {"destinations",
     read_member<ExchangeScheduleTransfer, &ExchangeScheduleTransfer::destinations, read_destinations>},
    {"words", read_member<ExchangeScheduleTransfer, &ExchangeScheduleTransfer::words, read_u32>},
    {"width", read_member<ExchangeScheduleTransfer, &ExchangeScheduleTransfer::width, read_width>},
}};

JsonRead<ExchangeScheduleTransfer> read_transfer(JsonCursor& cursor, JsonValue& value) {
  return read_record(cursor, value, "ExchangeScheduleTransfer", kTransferFields);
}

JsonRead<std::vector<ExchangeScheduleTransfer>> read_transfers(JsonCursor& cursor, JsonValue& value) {
  return read_sequence<ExchangeScheduleTransfer>(cursor, value, read_transfer);
}

constexpr std::array<RecordField<ExchangeScheduleProblem>, 2> kProblemFields = {{
    {"phase", read_member<ExchangeScheduleProblem, &ExchangeScheduleProblem::phase, read_u32>},
    {"transfers", read_member<ExchangeScheduleProblem, &ExchangeScheduleProblem::transfers, read_transfers>},
}};

JsonRead<ExchangeScheduleProblem> read_problem(JsonCursor& cursor, JsonValue& value) {
  return read_record(cursor, value, "ExchangeScheduleProblem", kProblemFields);
}

JsonRead<std::vector<ExchangeScheduleProblem>> read_problems(JsonCursor& cursor, JsonValue& value) {
  return read_sequence<ExchangeScheduleProblem>(cursor, value, read_problem);
}

constexpr std::array<RecordField<ExchangeScheduleSnapshot>, 3> kSnapshotFields = {{
    {"schema_version",
     read_member<ExchangeScheduleSnapshot, &ExchangeScheduleSnapshot::schema_version, read_u32>},
    {"tile_count", read_member<ExchangeScheduleSnapshot, &ExchangeScheduleSnapshot::tile_count, read_u16>},
    {"phases", read_member<ExchangeScheduleSnapshot, &ExchangeScheduleSnapshot::phases, read_problems>},
}};

JsonRead<ExchangeScheduleSnapshot> read_snapshot_record(JsonCursor& cursor, JsonValue& value) {
  return read_record(cursor, value, "ExchangeScheduleSnapshot", kSnapshotFields);
}

}  // namespace

std::expected<ExchangeScheduleSnapshot, SnapshotReadError> read_snapshot(std::string_view json) {
  JsonRead<ExchangeScheduleSnapshot> snapshot = read_json_document<ExchangeScheduleSnapshot>(
      json, "struct ExchangeScheduleSnapshot", read_snapshot_record);
  if (!snapshot) {
    return std::unexpected(
        SnapshotReadError{snapshot.error().message + line_column_suffix(json, snapshot.error().offset)});
  }
  return std::move(*snapshot);
}

}  // namespace tessel_codegen::exchange
