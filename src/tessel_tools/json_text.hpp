#pragma once
// Small pieces of JSON text shared by the machine-readable outputs.

#include <string>
#include <string_view>

namespace tessel_tools {

// `text` as a quoted JSON string. Control characters are escaped; bytes that are not valid UTF-8
// (a path need not be text) become U+FFFD so that the output stays valid JSON.
std::string json_string(std::string_view text);

// A double as the shortest JSON number that reads back as the same value.
std::string json_number(double value);

}  // namespace tessel_tools
