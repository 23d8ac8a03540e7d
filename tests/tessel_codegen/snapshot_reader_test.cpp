#include "tessel_codegen/exchange/snapshot_reader.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

namespace tessel_codegen::exchange {
namespace {

const std::string kSmallest = R"({"schema_version":3,"tile_count":1,"phases":[]})";

// A snapshot whose one phase holds `transfers` on a line of its own, so that positions inside
// them read as line 2 and a column within `transfers`.
std::string in_transfers(const std::string& transfers) {
  return "{\"schema_version\":3,\"tile_count\":2,\"phases\":[{\"phase\":7,\"transfers\":[\n" + transfers +
         "\n]}]}";
}

std::string nested_arrays(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

ExchangeScheduleSnapshot read_valid(const std::string& json) {
  auto snapshot = read_snapshot(json);
  EXPECT_TRUE(snapshot.has_value()) << snapshot.error().message;
  return snapshot.value_or(ExchangeScheduleSnapshot{});
}

struct ReadErrorCase {
  std::string name;
  std::string json;
  std::string message;
};

TEST(SnapshotReaderTest, RejectsWithMessageAndPosition) {
  const std::vector<ReadErrorCase> cases = {
      {"missing width", in_transfers(R"({"source":0,"source_addresses":[4096],"destinations":[],"words":4})"),
       R"(missing field `width` at line 2 column 66)"},
      {"missing root field", R"({"schema_version":3,"phases":[]})",
       R"(missing field `tile_count` at line 1 column 32)"},
      {"duplicate tile", in_transfers(R"([0,[4096],[{"tile":1,"tile":2,"address":8}],4,"Word32"])"),
       R"(duplicate field `tile` at line 2 column 22)"},
      {"unknown variant wrong case", in_transfers(R"([0,[4096],[],4,"word32"])"),
       R"(unknown variant `word32`, expected `Word32` or `Paired64` at line 2 column 16)"},
      {"unknown variant as object key", in_transfers(R"([0,[4096],[],4,{"Word64":null}])"),
       R"(unknown variant `Word64`, expected `Word32` or `Paired64` at line 2 column 17)"},
      {"short destination", in_transfers(R"([0,[4096],[[5]],4,"Word32"])"),
       R"(invalid length 1, expected struct ExchangeScheduleDestination with 2 elements at line 2 column 14)"},
      {"short transfer", in_transfers(R"([0,[4096],[],4])"),
       R"(invalid length 4, expected struct ExchangeScheduleTransfer with 5 elements at line 2 column 15)"},
      {"short problem", R"({"schema_version":3,"tile_count":2,"phases":[[7]]})",
       R"(invalid length 1, expected struct ExchangeScheduleProblem with 2 elements at line 1 column 48)"},
      {"short snapshot", R"([3])",
       R"(invalid length 1, expected struct ExchangeScheduleSnapshot with 3 elements at line 1 column 3)"},
      {"empty snapshot array", R"([ ])",
       R"(invalid length 0, expected struct ExchangeScheduleSnapshot with 3 elements at line 1 column 3)"},
      {"long destination", in_transfers(R"([0,[4096],[[5,4096,1]],4,"Word32"])"),
       R"(trailing characters at line 2 column 20)"},
      {"float words", in_transfers(R"([0,[4096],[],4.0,"Word32"])"),
       R"(invalid type: floating point `4.0`, expected u32 at line 2 column 14)"},
      {"float with exponent", in_transfers(R"([0,[4096],[],15e-1,"Word32"])"),
       R"(invalid type: floating point `1.5`, expected u32 at line 2 column 14)"},
      {"large float", in_transfers(R"([0,[4096],[],1E21,"Word32"])"),
       R"(invalid type: floating point `1000000000000000000000.0`, expected u32 at line 2 column 14)"},
      {"integer for struct", in_transfers(R"(7)"),
       R"(invalid type: integer `7`, expected struct ExchangeScheduleTransfer at line 2 column 1)"},
      {"string for u16", in_transfers(R"(["0",[4096],[],4,"Word32"])"),
       R"(invalid type: string "0", expected u16 at line 2 column 2)"},
      {"escaped string shown", R"({"tile_count":"a\"b\n"})",
       R"(invalid type: string "a\"b\n", expected u16 at line 1 column 15)"},
      {"boolean for u32", R"({"schema_version":true})",
       R"(invalid type: boolean `true`, expected u32 at line 1 column 19)"},
      {"null for u32", R"({"schema_version":null})",
       R"(invalid type: null, expected u32 at line 1 column 19)"},
      {"map for u32", R"({"schema_version":{"v":3}})",
       R"(invalid type: map, expected u32 at line 1 column 19)"},
      {"sequence for u16", R"({"tile_count":[1]})",
       R"(invalid type: sequence, expected u16 at line 1 column 15)"},
      {"map for sequence", R"({"schema_version":3,"tile_count":1,"phases":{}})",
       R"(invalid type: map, expected a sequence at line 1 column 45)"},
      {"integer for width", in_transfers(R"([0,[4096],[],4,1])"),
       R"(invalid type: integer `1`, expected enum ExchangeItemWidth at line 2 column 16)"},
      {"scalar root", R"("snapshot")",
       R"(invalid type: string "snapshot", expected struct ExchangeScheduleSnapshot at line 1 column 1)"},
      {"tile 65536", in_transfers(R"([0,[4096],[{"tile":65536,"address":0}],4,"Word32"])"),
       R"(invalid value: integer `65536`, expected u16 at line 2 column 20)"},
      {"tile_count 70000", R"({"tile_count":70000})",
       R"(invalid value: integer `70000`, expected u16 at line 1 column 15)"},
      {"negative words", in_transfers(R"([0,[4096],[],-1,"Word32"])"),
       R"(invalid value: integer `-1`, expected u32 at line 2 column 14)"},
      {"address beyond u32", in_transfers(R"([0,[4294967296],[],4,"Word32"])"),
       R"(invalid value: integer `4294967296`, expected u32 at line 2 column 5)"},
      {"integer beyond 64 bits", in_transfers(R"([0,[4096],[],123456789012345678901234567890,"Word32"])"),
       R"(invalid value: integer `123456789012345678901234567890`, expected u32 at line 2 column 14)"},
      {"garbage after root", kSmallest + R"( x)", R"(trailing characters at line 1 column 49)"},
      {"width variant value not null", in_transfers(R"([0,[4096],[],4,{"Paired64":0}])"),
       R"(invalid type: integer `0`, expected null at line 2 column 28)"},
      {"width object with two keys", in_transfers(R"([0,[4096],[],4,{"Paired64":null,"Word32":null}])"),
       R"(trailing characters at line 2 column 33)"},
      {"width empty object", in_transfers(R"([0,[4096],[],4,{}])"),
       R"(invalid length 0, expected map with a single key at line 2 column 17)"},
      {"empty input", R"()", R"(unexpected end of input at line 1 column 1)"},
      {"whitespace only", " \n ", R"(unexpected end of input at line 2 column 2)"},
      {"truncated", "{\"schema_version\":3,\"tile_count\":1,\"phases\":[\n",
       R"(unexpected end of input at line 2 column 1)"},
      {"truncated inside number", R"({"schema_version":3,"tile_count":1)",
       R"(unexpected end of input at line 1 column 35)"},
      {"truncated inside string", R"({"schema_version":3,"tile_c)",
       R"(unterminated string at line 1 column 21)"},
      {"invalid UTF-8", "{\"schema_version\":3,\"x\":\"\xc3(\"}", R"(invalid UTF-8 at line 1 column 26)"},
      {"overlong UTF-8", "{\"x\":\"\xc0\xaf\"}", R"(invalid UTF-8 at line 1 column 7)"},
      {"control character in string", "{\"x\":\"a\tb\"}",
       R"(control character in string at line 1 column 8)"},
      {"backslash outside a string", R"({"schema_version":3,\"tile_count":1})",
       R"(unexpected character `\` outside a string at line 1 column 21)"},
      {"bad escape", R"({"x":"a\qb"})", R"(invalid escape in string at line 1 column 8)"},
      {"bad escape in key", R"({"x\u12G4":1})", R"(invalid unicode escape in string at line 1 column 4)"},
      {"lone surrogate", R"({"x":"\udc00"})", R"(unpaired surrogate in string at line 1 column 7)"},
      {"missing colon", R"({"schema_version" 3})", R"(expected `:` at line 1 column 19)"},
      {"missing comma", R"({"schema_version":3 "tile_count":1})",
       R"(expected `,` or `}` at line 1 column 21)"},
      {"missing comma in array", R"([3 1])", R"(expected `,` or `]` at line 1 column 4)"},
      {"trailing comma", R"({"schema_version":3,})", R"(expected a string key at line 1 column 21)"},
      {"non-string key", R"({3:3})", R"(expected a string key at line 1 column 2)"},
      {"mismatched bracket", R"({"schema_version":3])", R"(expected `,` or `}` at line 1 column 20)"},
      {"missing value", R"([3,,1])", R"(expected value at line 1 column 4)"},
      {"invalid literal", R"({"x":tru})", R"(invalid literal at line 1 column 6)"},
      {"invalid literal in record", R"({"schema_version":nul})", R"(invalid literal at line 1 column 19)"},
      {"leading zero", R"({"x":01})", R"(invalid number at line 1 column 6)"},
      {"bare minus", R"({"x":-})", R"(invalid number at line 1 column 6)"},
      {"number out of range", R"({"schema_version":1e400})", R"(number out of range at line 1 column 19)"},
      {"two documents", kSmallest + "\n" + kSmallest, R"(trailing characters at line 2 column 1)"},
      {"malformed value under unknown key",
       kSmallest.substr(0, kSmallest.size() - 1) + R"(,"x":[1,{"a":tru}]})",
       R"(invalid literal at line 1 column 60)"},
      {"missing comma under unknown key", R"({"x":{"a":1 "b":2}})",
       R"(expected `,` or `}` at line 1 column 13)"},
      // Nesting counts from the root (level 1); arrays and objects inside skipped values count too.
      {"recursion limit in skipped value", "{\"x\":" + nested_arrays(128) + "}",
       R"(recursion limit exceeded at line 1 column 133)"},
      {"recursion limit below records",
       in_transfers(R"([0,[4096],[{"tile":1,"address":2,"x":)" + nested_arrays(122) + R"(}],4,"Word32"])"),
       R"(recursion limit exceeded at line 2 column 159)"},
      {"recursion limit far beyond", "{\"x\":" + nested_arrays(100000) + "}",
       R"(recursion limit exceeded at line 1 column 133)"},
  };
  for (const ReadErrorCase& test_case : cases) {
    SCOPED_TRACE(test_case.name);
    const auto snapshot = read_snapshot(test_case.json);
    ASSERT_FALSE(snapshot.has_value());
    EXPECT_EQ(snapshot.error().message, test_case.message);
  }
}

TEST(SnapshotReaderTest, ReadsSmallestDocument) {
  EXPECT_EQ(read_valid(kSmallest), (ExchangeScheduleSnapshot{3, 1, {}}));
}

// The snapshot that the documents below spell in different ways.
ExchangeScheduleSnapshot two_phase_snapshot() {
  return ExchangeScheduleSnapshot{
      3,
      4,
      {
          ExchangeScheduleProblem{
              9,
              {
                  ExchangeScheduleTransfer{
                      0, {4096, 8192}, {{1, 256}, {3, 512}}, 8, ExchangeItemWidth::Word32},
                  ExchangeScheduleTransfer{2, {64}, {{0, 1024}}, 2, ExchangeItemWidth::Paired64},
              }},
          ExchangeScheduleProblem{4, {}},
      }};
}

TEST(SnapshotReaderTest, ReadsKeysInAnyOrder) {
  const std::string json = R"({
    "phases": [
      {"transfers": [
         {"width": "Word32", "words": 8, "destinations": [{"address": 256, "tile": 1}, {"tile": 3, "address": 512}],
          "source_addresses": [4096, 8192], "source": 0},
         {"destinations": [{"address": 1024, "tile": 0}], "source": 2, "width": "Paired64", "words": 2,
          "source_addresses": [64]}],
       "phase": 9},
      {"phase": 4, "transfers": []}],
    "tile_count": 4,
    "schema_version": 3
  })";
  EXPECT_EQ(read_valid(json), two_phase_snapshot());
}

TEST(SnapshotReaderTest, IgnoresUnknownKeysAtEveryLevel) {
  const std::string json = R"({"comment": "exported by tessel-pilot", "schema_version": 3, "tile_count": 4,
    "meta": {"nested": [1, 2.5e3, -7, {"deep": [true, false, null, "\u00e9\n"]}], "empty": {}},
    "phases": [
      {"phase": 9, "note": [[], {}], "transfers": [
         {"source": 0, "source_addresses": [4096, 8192], "extra": null,
          "destinations": [{"tile": 1, "address": 256, "why": "x"}, {"tile": 3, "address": 512}],
          "words": 8, "width": "Word32"},
         {"source": 2, "source_addresses": [64], "destinations": [{"tile": 0, "address": 1024}], "words": 2,
          "width": "Paired64", "width_comment": {"Paired64": 1}}]},
      {"phase": 4, "transfers": [], "comment": 123456789012345678901234567890}]})";
  EXPECT_EQ(read_valid(json), two_phase_snapshot());
}

TEST(SnapshotReaderTest, ArrayFormEqualsObjectForm) {
  EXPECT_EQ(read_valid(in_transfers(R"([0,[4096],[[5,4096]],4,"Word32"])")),
            read_valid(in_transfers(R"([0,[4096],[{"tile":5,"address":4096}],4,"Word32"])")));
  const std::string json =
      R"([3, 4, [[9, [[0, [4096, 8192], [[1, 256], {"tile": 3, "address": 512}], 8, "Word32"],
                    [2, [64], [[0, 1024]], 2, {"Paired64": null}]]],
                [4, []]]])";
  EXPECT_EQ(read_valid(json), two_phase_snapshot());
}

TEST(SnapshotReaderTest, ReadsWidthAsStringOrUnitVariantObject) {
  const auto width_of = [](const std::string& width) {
    const ExchangeScheduleSnapshot snapshot = read_valid(in_transfers("[0,[4096],[],4," + width + "]"));
    return snapshot.phases.empty() ? ExchangeItemWidth::Word32 : snapshot.phases[0].transfers[0].width;
  };
  EXPECT_EQ(width_of(R"("Paired64")"), ExchangeItemWidth::Paired64);
  EXPECT_EQ(width_of(R"("Word32")"), ExchangeItemWidth::Word32);
  EXPECT_EQ(width_of(R"({"Paired64":null})"), ExchangeItemWidth::Paired64);
  EXPECT_EQ(width_of(R"({ "Word32" : null })"), ExchangeItemWidth::Word32);
}

TEST(SnapshotReaderTest, AcceptsNestingUpToTheLimit) {
  // The root object is level 1, so 127 arrays inside it reach level 128.
  EXPECT_EQ(read_valid(kSmallest.substr(0, kSmallest.size() - 1) + ",\"x\":" + nested_arrays(127) + "}"),
            (ExchangeScheduleSnapshot{3, 1, {}}));
  // Seven levels of records around the skipped value, 121 inside it.
  const ExchangeScheduleSnapshot snapshot = read_valid(
      in_transfers(R"([0,[4096],[{"tile":1,"address":2,"x":)" + nested_arrays(121) + R"(}],4,"Word32"])"));
  ASSERT_EQ(snapshot.phases.size(), 1u);
  EXPECT_EQ(snapshot.phases[0].transfers[0].destinations, (std::vector<ExchangeScheduleDestination>{{1, 2}}));
}

TEST(SnapshotReaderTest, ReadsIntegersAtTheEdgesOfTheirWidths) {
  const ExchangeScheduleSnapshot snapshot = read_valid(
      R"({"schema_version":4294967295,"tile_count":65535,"phases":[{"phase":-0,"transfers":[]}]})");
  EXPECT_EQ(snapshot.schema_version, 4294967295u);
  EXPECT_EQ(snapshot.tile_count, 65535u);
  ASSERT_EQ(snapshot.phases.size(), 1u);
  EXPECT_EQ(snapshot.phases[0].phase, 0u);
}

TEST(SnapshotReaderTest, MatchesEscapedKeys) {
  EXPECT_EQ(read_valid(R"({"sch\u0065ma_version":3,"tile\u005fcount":1,"phases":[]})"),
            (ExchangeScheduleSnapshot{3, 1, {}}));
}

TEST(SnapshotReaderTest, RejectsEveryTruncation) {
  const std::string json = in_transfers(
      R"({"source":0,"source_addresses":[4096],"destinations":[[1,2]],"words":4,"width":{"Word32":null}})");
  for (std::size_t length = 0; length < json.size(); ++length) {
    SCOPED_TRACE(json.substr(0, length));
    const auto snapshot = read_snapshot(json.substr(0, length));
    ASSERT_FALSE(snapshot.has_value());
    EXPECT_NE(snapshot.error().message.find(" at line "), std::string::npos) << snapshot.error().message;
  }
}

}  // namespace
}  // namespace tessel_codegen::exchange
