#include "tessel_codegen/exchange/json_reader.hpp"

#include <algorithm>
#include <charconv>
#include <optional>
#include <system_error>

#include "tessel_codegen/exchange/json_text.hpp"

namespace tessel_codegen::exchange {

namespace {

// Checks a true/false/null token; simdjson's type() only looks at its first byte.
JsonRead<void> check_literal(JsonCursor& cursor, const char* at, std::string_view token,
                             std::string_view literal) {
  if (trim_json_whitespace(token) != literal) {
    return std::unexpected(cursor.syntax_failure_at(at, "invalid literal"));
  }
  return {};
}

// Checks a number token against the JSON grammar (simdjson's type() only looks at its first byte).
JsonRead<JsonNumberForm> check_number(JsonCursor& cursor, const char* at, std::string_view token) {
  const JsonNumberForm form = classify_json_number(token);
  if (form == JsonNumberForm::Invalid) return std::unexpected(cursor.syntax_failure_at(at, "invalid number"));
  return form;
}

// The value of a floating-point token for messages; beyond the range of a double is an error.
JsonRead<double> float_value(JsonCursor& cursor, const char* at, std::string_view token) {
  double value = 0;
  const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
  if (error != std::errc{} || end != token.data() + token.size()) {
    return std::unexpected(cursor.failure_at(at, "number out of range"));
  }
  return value;
}

// What an invalid-type message names as found, in the reader's words. `read_string_content` reads the
// value as a string and is only called for strings.
template <class ReadStringContent>
JsonRead<std::string> describe_found(JsonCursor& cursor, JsonType type, const char* at,
                                     std::string_view raw_token, ReadStringContent&& read_string_content) {
  const std::string_view token = trim_json_whitespace(raw_token);
  switch (type) {
    case JsonType::object:
      return "map";
    case JsonType::array:
      return "sequence";
    case JsonType::null:
      TESSEL_TRY(check_literal(cursor, at, token, "null"));
      return "null";
    case JsonType::boolean:
      if (token == "true") return "boolean `true`";
      TESSEL_TRY(check_literal(cursor, at, token, "false"));
      return "boolean `false`";
    case JsonType::number: {
      if (TESSEL_TRY(check_number(cursor, at, token)) == JsonNumberForm::Integer) {
        return fmt::format("integer `{}`", token);
      }
      return fmt::format("floating point `{}`", display_float(TESSEL_TRY(float_value(cursor, at, token))));
    }
    case JsonType::string:
      return "string " + quote_for_display(TESSEL_TRY(read_string_content()));
  }
  return std::unexpected(cursor.syntax_failure_at(at, "expected value"));
}

std::string expected_variants(std::span<const std::string_view> variants) {
  if (variants.size() == 1) return fmt::format("expected `{}`", variants[0]);
  if (variants.size() == 2) return fmt::format("expected `{}` or `{}`", variants[0], variants[1]);
  std::string text = "expected one of ";
  for (std::size_t i = 0; i < variants.size(); ++i) {
    text += fmt::format("{}`{}`", i == 0 ? "" : ", ", variants[i]);
  }
  return text;
}

JsonRead<std::size_t> variant_index(JsonCursor& cursor, const char* at, std::string_view name,
                                    std::span<const std::string_view> variants) {
  const auto found = std::find(variants.begin(), variants.end(), name);
  if (found == variants.end()) {
    return std::unexpected(
        cursor.failure_at(at, fmt::format("unknown variant `{}`, {}", name, expected_variants(variants))));
  }
  return static_cast<std::size_t>(found - variants.begin());
}

}  // namespace

JsonCursor::JsonCursor(simdjson::ondemand::document& document, std::string_view input)
    : document_(&document), input_(input) {}

JsonReadFailure JsonCursor::failure_at(const char* at, std::string message) const {
  const auto offset =
      std::clamp<std::ptrdiff_t>(at - input_.data(), 0, static_cast<std::ptrdiff_t>(input_.size()));
  return JsonReadFailure{std::move(message), static_cast<std::size_t>(offset)};
}

JsonReadFailure JsonCursor::syntax_failure_at(const char* at, const char* message) const {
  if (at_end_of_input(at)) return failure_at(at, "unexpected end of input");
  return failure_at(at, message);
}

const char* JsonCursor::next_token() {
  const char* end = input_.data() + input_.size();
  const char* location = nullptr;
  if (document_->current_location().get(location) != simdjson::SUCCESS) return end;
  return std::min(location, end);
}

const char* JsonCursor::closing_bracket() {
  const char* at = next_token();
  while (at > input_.data() && is_json_whitespace(at[-1])) --at;
  return at > input_.data() ? at - 1 : at;
}

JsonRead<void> JsonCursor::enter_container(const char* at) {
  if (++depth_ > kJsonMaxDepth) return std::unexpected(failure_at(at, "recursion limit exceeded"));
  return {};
}

JsonReadFailure JsonCursor::object_syntax_failure(const char* after_previous) {
  const char* at = next_token();
  if (at_end_of_input(at)) return failure_at(at, "unexpected end of input");
  // simdjson reports the token it stopped at; what was expected there follows from the token before.
  if (after_previous != nullptr && at == after_previous) return failure_at(at, "expected `,` or `}`");
  const char* before = at;
  while (before > input_.data() && is_json_whitespace(before[-1])) --before;
  if (before > input_.data() && (before[-1] == '{' || before[-1] == ',')) {
    return failure_at(at, "expected a string key");
  }
  return failure_at(at, "expected `:`");
}

JsonReadFailure JsonCursor::array_syntax_failure() {
  return syntax_failure_at(next_token(), "expected `,` or `]`");
}

JsonReadFailure JsonCursor::string_failure(const char* string_start) const {
  const auto offset = static_cast<std::size_t>(string_start - input_.data());
  if (const auto problem = find_escape_problem(input_.substr(std::min(offset, input_.size())))) {
    return failure_at(string_start + problem->offset, problem->message);
  }
  return failure_at(string_start, "invalid string");
}

JsonRead<void> JsonCursor::expect_end_of_input() {
  const char* at = next_token();
  if (!at_end_of_input(at)) return std::unexpected(failure_at(at, "trailing characters"));
  return {};
}

const char* value_start(JsonValue& value) { return value.raw_json_token().data(); }

JsonRead<JsonType> read_type(JsonCursor& cursor, JsonValue& value) {
  JsonType type{};
  if (value.type().get(type) != simdjson::SUCCESS) {
    return std::unexpected(cursor.syntax_failure_at(value_start(value), "expected value"));
  }
  return type;
}

JsonRead<std::string_view> read_string(JsonCursor& cursor, JsonValue& value) {
  const char* at = value_start(value);
  std::string_view text;
  if (value.get_string().get(text) != simdjson::SUCCESS) return std::unexpected(cursor.string_failure(at));
  return text;
}

JsonRead<std::uint64_t> read_unsigned(JsonCursor& cursor, JsonValue& value, std::uint64_t max,
                                      std::string_view expected) {
  const JsonType type = TESSEL_TRY(read_type(cursor, value));
  if (type != JsonType::number) return std::unexpected(invalid_type(cursor, value, type, expected));
  const char* at = value_start(value);
  const std::string_view token = trim_json_whitespace(value.raw_json_token());
  if (TESSEL_TRY(check_number(cursor, at, token)) == JsonNumberForm::FloatingPoint) {
    return std::unexpected(invalid_type(cursor, value, type, expected));
  }
  const std::optional<std::uint64_t> integer = json_integer_within(token, max);
  if (!integer) {
    return std::unexpected(
        cursor.failure_at(at, fmt::format("invalid value: integer `{}`, expected {}", token, expected)));
  }
  return *integer;
}

JsonRead<void> skip_value(JsonCursor& cursor, JsonValue& value) {
  const JsonType type = TESSEL_TRY(read_type(cursor, value));
  const char* at = value_start(value);
  switch (type) {
    case JsonType::object:
      TESSEL_TRY(for_each_field(cursor, value, [&](std::string_view, const char*, JsonValue& field_value) {
        return skip_value(cursor, field_value);
      }));
      return {};
    case JsonType::array:
      TESSEL_TRY(for_each_element(
          cursor, value, [&](const char*, JsonValue& element) { return skip_value(cursor, element); }));
      return {};
    case JsonType::string:
      TESSEL_TRY(read_string(cursor, value));
      return {};
    case JsonType::number:
      TESSEL_TRY(check_number(cursor, at, trim_json_whitespace(value.raw_json_token())));
      return {};
    case JsonType::boolean: {
      const std::string_view token = trim_json_whitespace(value.raw_json_token());
      return check_literal(cursor, at, token, token.starts_with('t') ? "true" : "false");
    }
    case JsonType::null:
      return check_literal(cursor, at, value.raw_json_token(), "null");
  }
  return std::unexpected(cursor.syntax_failure_at(at, "expected value"));
}

JsonReadFailure invalid_type(JsonCursor& cursor, JsonValue& value, JsonType type, std::string_view expected) {
  const char* at = value_start(value);
  const JsonRead<std::string> found =
      describe_found(cursor, type, at, value.raw_json_token(), [&] { return read_string(cursor, value); });
  if (!found) return found.error();
  return cursor.failure_at(at, fmt::format("invalid type: {}, expected {}", *found, expected));
}

JsonRead<std::size_t> read_unit_variant(JsonCursor& cursor, JsonValue& value, std::string_view enum_name,
                                        std::span<const std::string_view> variants) {
  const JsonType type = TESSEL_TRY(read_type(cursor, value));
  const char* at = value_start(value);
  if (type == JsonType::string) {
    return variant_index(cursor, at, TESSEL_TRY(read_string(cursor, value)), variants);
  }
  if (type != JsonType::object) {
    return std::unexpected(invalid_type(cursor, value, type, fmt::format("enum {}", enum_name)));
  }
  // The externally tagged form: {"Variant": null}.
  std::optional<std::size_t> chosen;
  const char* closing = TESSEL_TRY(for_each_field(
      cursor, value,
      [&](std::string_view key, const char* key_start, JsonValue& field_value) -> JsonRead<void> {
        if (chosen) return std::unexpected(cursor.failure_at(key_start, "trailing characters"));
        const std::size_t index = TESSEL_TRY(variant_index(cursor, key_start, key, variants));
        const JsonType field_type = TESSEL_TRY(read_type(cursor, field_value));
        if (field_type != JsonType::null) {
          return std::unexpected(invalid_type(cursor, field_value, field_type, "null"));
        }
        TESSEL_TRY(skip_value(cursor, field_value));
        chosen = index;
        return {};
      }));
  if (!chosen) {
    return std::unexpected(cursor.failure_at(closing, "invalid length 0, expected map with a single key"));
  }
  return *chosen;
}

JsonReadFailure whole_input_failure(std::string_view input, simdjson::error_code error) {
  if (const auto problem = find_lexical_problem(input)) {
    return JsonReadFailure{problem->message, problem->offset};
  }
  if (error == simdjson::EMPTY) return JsonReadFailure{"unexpected end of input", input.size()};
  return JsonReadFailure{fmt::format("invalid JSON: {}", simdjson::error_message(error)), 0};
}

JsonRead<JsonValue> read_root_container(JsonCursor& cursor, simdjson::ondemand::document& document,
                                        std::string_view expected) {
  std::string_view token;
  if (document.raw_json_token().get(token) != simdjson::SUCCESS) {
    return std::unexpected(cursor.syntax_failure_at(cursor.next_token(), "expected value"));
  }
  const char* at = token.data();
  JsonType type{};
  if (document.type().get(type) != simdjson::SUCCESS) {
    return std::unexpected(cursor.syntax_failure_at(at, "expected value"));
  }
  if (type == JsonType::object || type == JsonType::array) {
    JsonValue root;
    if (document.get_value().get(root) != simdjson::SUCCESS) {
      return std::unexpected(cursor.syntax_failure_at(at, "expected value"));
    }
    return root;
  }
  // simdjson reads scalar documents only through the document itself.
  const JsonRead<std::string> found =
      describe_found(cursor, type, at, token, [&]() -> JsonRead<std::string_view> {
        std::string_view text;
        if (document.get_string().get(text) != simdjson::SUCCESS) {
          return std::unexpected(cursor.string_failure(at));
        }
        return text;
      });
  if (!found) return std::unexpected(found.error());
  return std::unexpected(
      cursor.failure_at(at, fmt::format("invalid type: {}, expected {}", *found, expected)));
}

}  // namespace tessel_codegen::exchange
