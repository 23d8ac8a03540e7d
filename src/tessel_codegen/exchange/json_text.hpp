#pragma once
// Byte-level facts about JSON text that the snapshot reader needs beside simdjson: where an offset
// lies (line and column), where a whole-input check failed, the number grammar, and the display of
// numbers and strings in error messages.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessel_codegen::exchange {

// A problem found in the JSON text, at a byte offset of the input.
struct JsonTextProblem {
  const char* message = "";
  std::size_t offset = 0;
};

// " at line L column C" for a byte offset (lines and columns from 1, columns in bytes). Offsets past
// the end denote the end of the input.
std::string line_column_suffix(std::string_view input, std::size_t offset);

// The first problem that simdjson's whole-input pass rejects: invalid UTF-8, a control character
// inside a string, a string that is never closed, or a backslash outside a string. None if the
// input has none of these.
std::optional<JsonTextProblem> find_lexical_problem(std::string_view input);

// The first invalid escape in `string_token`, which starts at the opening quote of a JSON string;
// the offset is relative to that quote and points at the backslash. None if every escape is valid.
std::optional<JsonTextProblem> find_escape_problem(std::string_view string_token);

bool is_json_whitespace(char c);

// `token` without trailing JSON whitespace.
std::string_view trim_json_whitespace(std::string_view token);

enum class JsonNumberForm { Invalid, Integer, FloatingPoint };

// Classifies a number token by the JSON grammar; a fraction or an exponent makes it floating point.
JsonNumberForm classify_json_number(std::string_view token);

// The value of a non-negative integer token (optional leading '-' for zero only, as "-0"), or none
// when the integer is negative or does not fit in `max`.
std::optional<std::uint64_t> json_integer_within(std::string_view token, std::uint64_t max);

// A finite double in shortest round-trip digits, positional and always with a decimal point
// ("4.0", "1.5", "0.001", "-0.0").
std::string display_float(double value);

// A string quoted for an error message, with quotes, backslashes and control characters escaped.
std::string quote_for_display(std::string_view text);

}  // namespace tessel_codegen::exchange
