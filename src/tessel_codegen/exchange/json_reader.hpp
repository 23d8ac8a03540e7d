#pragma once
// A small typed reader on simdjson's on-demand API: records (objects with named fields in any order,
// or arrays of field values in declared order), sequences, bounded unsigned integers, unit-variant
// enumerations and fully validated skipping of unknown values, with the snapshot format's error texts and
// the byte offset each error refers to. Objects and arrays nest at most kJsonMaxDepth levels deep,
// counting those inside skipped values.

#include <fmt/format.h>
#include <simdjson.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/result.hpp"

namespace tessel_codegen::exchange {

inline constexpr int kJsonMaxDepth = 128;

// A reading error and the byte offset of the input it refers to.
struct JsonReadFailure {
  std::string message;
  std::size_t offset = 0;
};

template <class T>
using JsonRead = std::expected<T, JsonReadFailure>;

using JsonValue = simdjson::ondemand::value;
using JsonType = simdjson::ondemand::json_type;

// The walk over one document: knows the input bounds (for offsets and the end of input) and the
// current nesting depth. Reading stops at the first failure, so a failed walk does not restore the
// depth.
class JsonCursor {
 public:
  JsonCursor(simdjson::ondemand::document& document, std::string_view input);

  JsonReadFailure failure_at(const char* at, std::string message) const;
  // A syntax error found at `at`; an error at or past the end of the input is reported as such.
  JsonReadFailure syntax_failure_at(const char* at, const char* message) const;

  // Where the next unread token starts; the end of the input when there is none.
  const char* next_token();
  // The last non-whitespace byte before the next token: the bracket that closed the container just
  // finished.
  const char* closing_bracket();
  bool at_end_of_input(const char* at) const { return at >= input_.data() + input_.size(); }

  JsonRead<void> enter_container(const char* at);
  void leave_container() { --depth_; }

  // Failures of simdjson's structure checks while iterating an object or an array.
  // `after_previous` is the token that followed the previous field's value (null for the first).
  JsonReadFailure object_syntax_failure(const char* after_previous);
  JsonReadFailure array_syntax_failure();
  // A string (value or key) starting at `string_start` that simdjson could not unescape.
  JsonReadFailure string_failure(const char* string_start) const;

  // Only whitespace may follow the root value.
  JsonRead<void> expect_end_of_input();

 private:
  simdjson::ondemand::document* document_;
  std::string_view input_;
  int depth_ = 0;
};

const char* value_start(JsonValue& value);

// The JSON type of the value ahead; a token that cannot start a value is a syntax error.
JsonRead<JsonType> read_type(JsonCursor& cursor, JsonValue& value);

// Reads a JSON string (validating its escapes); the view lives as long as the parser.
JsonRead<std::string_view> read_string(JsonCursor& cursor, JsonValue& value);

// Reads a non-negative integer no larger than `max`; `expected` names the width ("u16", "u32").
JsonRead<std::uint64_t> read_unsigned(JsonCursor& cursor, JsonValue& value, std::uint64_t max,
                                      std::string_view expected);

// Reads and discards any value, validating all of it.
JsonRead<void> skip_value(JsonCursor& cursor, JsonValue& value);

// "invalid type: <what was found>, expected <expected>", reading the found value as far as needed
// to describe it (a syntax error inside it wins).
JsonReadFailure invalid_type(JsonCursor& cursor, JsonValue& value, JsonType type, std::string_view expected);

// Reads a unit variant of the enumeration `enum_name`: a string naming a variant, or an object with
// that single key and the value null. Returns the variant's index in `variants`.
JsonRead<std::size_t> read_unit_variant(JsonCursor& cursor, JsonValue& value, std::string_view enum_name,
                                        std::span<const std::string_view> variants);

// Calls on_field(key, key_start, value) for every field of the object ahead. Returns where its
// closing brace is.
template <class OnField>
JsonRead<const char*> for_each_field(JsonCursor& cursor, JsonValue& value, OnField&& on_field) {
  TESSEL_TRY(cursor.enter_container(value_start(value)));
  simdjson::ondemand::object object;
  if (value.get_object().get(object) != simdjson::SUCCESS) {
    return std::unexpected(cursor.object_syntax_failure(nullptr));
  }
  const char* after_previous = nullptr;
  for (auto field_result : object) {
    simdjson::ondemand::field field;
    if (std::move(field_result).get(field) != simdjson::SUCCESS) {
      return std::unexpected(cursor.object_syntax_failure(after_previous));
    }
    const char* key_start = field.key().raw() - 1;
    std::string_view key;
    if (field.unescaped_key().get(key) != simdjson::SUCCESS) {
      return std::unexpected(cursor.string_failure(key_start));
    }
    // A scalar that on_field did not consume leaves simdjson at its own token; its raw token runs
    // up to the next one.
    const std::string_view value_token = field.value().raw_json_token();
    TESSEL_TRY(on_field(key, key_start, field.value()));
    after_previous = cursor.next_token();
    if (after_previous == value_token.data()) after_previous += value_token.size();
  }
  cursor.leave_container();
  return cursor.closing_bracket();
}

// Calls on_element(element_start, value) for every element of the array ahead. Returns where its
// closing bracket is.
template <class OnElement>
JsonRead<const char*> for_each_element(JsonCursor& cursor, JsonValue& value, OnElement&& on_element) {
  TESSEL_TRY(cursor.enter_container(value_start(value)));
  simdjson::ondemand::array array;
  if (value.get_array().get(array) != simdjson::SUCCESS) {
    return std::unexpected(cursor.array_syntax_failure());
  }
  for (auto element_result : array) {
    JsonValue element;
    if (std::move(element_result).get(element) != simdjson::SUCCESS) {
      return std::unexpected(cursor.array_syntax_failure());
    }
    TESSEL_TRY(on_element(value_start(element), element));
  }
  cursor.leave_container();
  return cursor.closing_bracket();
}

// Reads a JSON array whose elements read_element turns into T.
template <class T, class ReadElement>
JsonRead<std::vector<T>> read_sequence(JsonCursor& cursor, JsonValue& value, ReadElement&& read_element) {
  const JsonType type = TESSEL_TRY(read_type(cursor, value));
  if (type != JsonType::array) return std::unexpected(invalid_type(cursor, value, type, "a sequence"));
  std::vector<T> elements;
  TESSEL_TRY(for_each_element(cursor, value, [&](const char*, JsonValue& element) -> JsonRead<void> {
    elements.push_back(TESSEL_TRY(read_element(cursor, element)));
    return {};
  }));
  return elements;
}

// One field of a record: its name and how its value is read into the record.
template <class Record>
struct RecordField {
  std::string_view name;
  JsonRead<void> (*read)(JsonCursor& cursor, JsonValue& value, Record& record);
};

// Reads a record from an object with its field names as keys (any order, every field required,
// unknown keys skipped) or from an array of its field values in declared order.
template <class Record, std::size_t N>
JsonRead<Record> read_record(JsonCursor& cursor, JsonValue& value, std::string_view struct_name,
                             const std::array<RecordField<Record>, N>& fields) {
  static_assert(N <= 32, "fields are tracked in a 32-bit mask");
  const JsonType type = TESSEL_TRY(read_type(cursor, value));
  Record record{};
  if (type == JsonType::object) {
    std::uint32_t seen = 0;
    const char* closing = TESSEL_TRY(for_each_field(
        cursor, value,
        [&](std::string_view key, const char* key_start, JsonValue& field_value) -> JsonRead<void> {
          for (std::size_t i = 0; i < N; ++i) {
            if (fields[i].name != key) continue;
            if (seen & (1u << i)) {
              return std::unexpected(cursor.failure_at(key_start, fmt::format("duplicate field `{}`", key)));
            }
            seen |= 1u << i;
            return fields[i].read(cursor, field_value, record);
          }
          return skip_value(cursor, field_value);
        }));
    for (std::size_t i = 0; i < N; ++i) {
      if (!(seen & (1u << i))) {
        return std::unexpected(cursor.failure_at(closing, fmt::format("missing field `{}`", fields[i].name)));
      }
    }
    return record;
  }
  if (type == JsonType::array) {
    std::size_t count = 0;
    const char* closing = TESSEL_TRY(
        for_each_element(cursor, value, [&](const char* element_start, JsonValue& element) -> JsonRead<void> {
          if (count == N) return std::unexpected(cursor.failure_at(element_start, "trailing characters"));
          TESSEL_TRY(fields[count].read(cursor, element, record));
          ++count;
          return {};
        }));
    if (count < N) {
      return std::unexpected(cursor.failure_at(
          closing,
          fmt::format("invalid length {}, expected struct {} with {} elements", count, struct_name, N)));
    }
    return record;
  }
  return std::unexpected(invalid_type(cursor, value, type, fmt::format("struct {}", struct_name)));
}

// Why simdjson's whole-input pass (UTF-8, strings, emptiness) rejected `input`.
JsonReadFailure whole_input_failure(std::string_view input, simdjson::error_code error);

// The root value of the document if it is an object or an array; any other root is an invalid type
// naming `expected`.
JsonRead<JsonValue> read_root_container(JsonCursor& cursor, simdjson::ondemand::document& document,
                                        std::string_view expected);

// Reads one whole JSON document: read_root(cursor, root value) turns its root object or array into T;
// only whitespace may follow it.
template <class T, class ReadRoot>
JsonRead<T> read_json_document(std::string_view input, std::string_view root_expected, ReadRoot&& read_root) {
  simdjson::padded_string padded(input);
  simdjson::ondemand::parser parser;
  simdjson::ondemand::document document;
  if (const auto error = parser.iterate(padded).get(document); error != simdjson::SUCCESS) {
    return std::unexpected(whole_input_failure(input, error));
  }
  JsonCursor cursor(document, std::string_view(padded.data(), input.size()));
  JsonValue root = TESSEL_TRY(read_root_container(cursor, document, root_expected));
  T result = TESSEL_TRY(read_root(cursor, root));
  TESSEL_TRY(cursor.expect_end_of_input());
  return result;
}

}  // namespace tessel_codegen::exchange
