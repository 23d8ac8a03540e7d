#pragma once
// Reading a whole input file into memory, with a bound on its size.

#include <cstddef>
#include <cstdio>
#include <expected>
#include <string>

namespace tessel_tools {

// Reads the rest of `file` through an 8 KiB buffer. Fails with the system's message on a read error,
// and with a message naming the bound when the file holds more than `limit` bytes (a device such as
// /dev/zero never ends).
std::expected<std::string, std::string> read_whole_file(std::FILE* file, std::size_t limit);

}  // namespace tessel_tools
