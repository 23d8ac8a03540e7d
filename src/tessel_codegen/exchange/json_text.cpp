#include "tessel_codegen/exchange/json_text.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <system_error>

namespace tessel_codegen::exchange {

namespace {

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the well-formed UTF-8 sequence starting at `at` (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0 if it is not well formed.
std::size_t utf8_sequence_length(std::string_view input, std::size_t at) {
  const auto byte = [&](std::size_t i) -> unsigned char {
    return at + i < input.size() ? static_cast<unsigned char>(input[at + i]) : 0;
  };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return is_continuation(byte(1)) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
    const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
    return byte(1) >= low && byte(1) <= high && is_continuation(byte(2)) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
    return byte(1) >= low && byte(1) <= high && is_continuation(byte(2)) && is_continuation(byte(3)) ? 4 : 0;
  }
  return 0;
}

std::optional<unsigned> hex_quad(std::string_view text, std::size_t at) {
  if (at + 4 > text.size()) return std::nullopt;
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data() + at, text.data() + at + 4, value, 16);
  if (error != std::errc{} || end != text.data() + at + 4) return std::nullopt;
  return value;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string line_column_suffix(std::string_view input, std::size_t offset) {
  const std::string_view before = input.substr(0, std::min(offset, input.size()));
  const std::size_t line = 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
  const std::size_t line_start = before.rfind('\n') == std::string_view::npos ? 0 : before.rfind('\n') + 1;
  return fmt::format(" at line {} column {}", line, before.size() - line_start + 1);
}

std::optional<JsonTextProblem> find_lexical_problem(std::string_view input) {
  bool in_string = false;
  bool escaped = false;
  std::size_t string_start = 0;
  for (std::size_t at = 0; at < input.size();) {
    const auto byte = static_cast<unsigned char>(input[at]);
    if (byte >= 0x80) {
      const std::size_t length = utf8_sequence_length(input, at);
      if (length == 0) return JsonTextProblem{"invalid UTF-8", at};
      escaped = false;
      at += length;
      continue;
    }
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (byte == '\\') {
        escaped = true;
      } else if (byte == '"') {
        in_string = false;
      }
      if (byte < 0x20) return JsonTextProblem{"control character in string", at};
    } else if (byte == '"') {
      in_string = true;
      string_start = at;
    } else if (byte == '\\') {
      // simdjson pairs quotes after treating every backslash as an escape, in strings or not.
      return JsonTextProblem{"unexpected character `\\` outside a string", at};
    }
    ++at;
  }
  if (in_string) return JsonTextProblem{"unterminated string", string_start};
  return std::nullopt;
}

std::optional<JsonTextProblem> find_escape_problem(std::string_view string_token) {
  for (std::size_t at = 1; at < string_token.size();) {
    const char c = string_token[at];
    if (c == '"') return std::nullopt;
    if (c != '\\') {
      ++at;
      continue;
    }
    const char kind = at + 1 < string_token.size() ? string_token[at + 1] : '\0';
    if (std::string_view("\"\\/bfnrt").find(kind) != std::string_view::npos) {
      at += 2;
      continue;
    }
    if (kind != 'u') return JsonTextProblem{"invalid escape in string", at};
    const std::optional<unsigned> unit = hex_quad(string_token, at + 2);
    if (!unit) return JsonTextProblem{"invalid unicode escape in string", at};
    if (*unit >= 0xDC00 && *unit <= 0xDFFF) return JsonTextProblem{"unpaired surrogate in string", at};
    if (*unit >= 0xD800 && *unit <= 0xDBFF) {
      const bool pair_follows = string_token.substr(at + 6, 2) == "\\u";
      const std::optional<unsigned> low = pair_follows ? hex_quad(string_token, at + 8) : std::nullopt;
      if (!low || *low < 0xDC00 || *low > 0xDFFF) return JsonTextProblem{"unpaired surrogate in string", at};
      at += 12;
      continue;
    }
    at += 6;
  }
  return std::nullopt;
}

bool is_json_whitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view trim_json_whitespace(std::string_view token) {
  while (!token.empty() && is_json_whitespace(token.back())) token.remove_suffix(1);
  return token;
}

JsonNumberForm classify_json_number(std::string_view token) {
  std::size_t at = 0;
  const auto digits = [&] {
    const std::size_t start = at;
    while (at < token.size() && is_digit(token[at])) ++at;
    return at - start;
  };
  if (at < token.size() && token[at] == '-') ++at;
  if (at < token.size() && token[at] == '0') {
    ++at;
  } else if (digits() == 0) {
    return JsonNumberForm::Invalid;
  }
  bool floating = false;
  if (at < token.size() && token[at] == '.') {
    ++at;
    if (digits() == 0) return JsonNumberForm::Invalid;
    floating = true;
  }
  if (at < token.size() && (token[at] == 'e' || token[at] == 'E')) {
    ++at;
    if (at < token.size() && (token[at] == '+' || token[at] == '-')) ++at;
    if (digits() == 0) return JsonNumberForm::Invalid;
    floating = true;
  }
  if (at != token.size()) return JsonNumberForm::Invalid;
  return floating ? JsonNumberForm::FloatingPoint : JsonNumberForm::Integer;
}

std::optional<std::uint64_t> json_integer_within(std::string_view token, std::uint64_t max) {
  if (token == "-0") return 0;
  if (token.empty() || token.front() == '-') return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : token) {
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (max - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::string display_float(double value) {
  // Shortest round-trip digits in scientific form, e.g. "-1.25e+03", rewritten positionally.
  std::array<char, 64> buffer{};
  const auto result =
      std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::scientific);
  const std::string_view scientific(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data()));
  const std::size_t exponent_at = scientific.find('e');
  if (exponent_at == std::string_view::npos) return std::string(scientific);  // inf or nan
  std::string_view mantissa = scientific.substr(0, exponent_at);
  std::string out;
  if (mantissa.front() == '-') {
    out.push_back('-');
    mantissa.remove_prefix(1);
  }
  std::string digits;
  for (const char c : mantissa) {
    if (c != '.') digits.push_back(c);
  }
  int exponent = 0;
  const std::string_view exponent_text = scientific.substr(exponent_at + 1);
  std::from_chars(exponent_text.data() + (exponent_text.front() == '+' ? 1 : 0),
                  exponent_text.data() + exponent_text.size(), exponent);
  const auto digit_count = static_cast<int>(digits.size());
  if (exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out += digits;
  } else if (exponent + 1 >= digit_count) {
    out += digits;
    out.append(static_cast<std::size_t>(exponent + 1 - digit_count), '0');
    out += ".0";
  } else {
    out += digits.substr(0, static_cast<std::size_t>(exponent + 1));
    out += '.';
    out += digits.substr(static_cast<std::size_t>(exponent + 1));
  }
  return out;
}

std::string quote_for_display(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          out += fmt::format("\\u{{{:x}}}", static_cast<unsigned>(static_cast<unsigned char>(c)));
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
  return out;
}

}  // namespace tessel_codegen::exchange
