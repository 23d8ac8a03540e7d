#include "tessel_tools/json_text.hpp"

#include <fmt/format.h>

#include <cmath>

namespace tessel_tools {

namespace {

// Length of the valid UTF-8 sequence at the start of `text`, or 0 when it is not one.
std::size_t utf8_sequence_length(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  unsigned minimum = 0;
  unsigned code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, minimum = 0x80, code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, minimum = 0x800, code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, minimum = 0x10000, code = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i) & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::string json_string(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      out += fmt::format("\\u{:04x}", c);
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (std::size_t length = utf8_sequence_length(text.substr(i)); length > 0) {
      out.append(text.substr(i, length));
      i += length;
      continue;
    } else {
      out += "\\ufffd";
    }
    ++i;
  }
  out += '"';
  return out;
}

std::string json_number(double value) {
  // Durations are finite and non-negative; anything else has no JSON spelling.
  if (!std::isfinite(value)) return "null";
  return fmt::format("{}", value);
}

}  // namespace tessel_tools
