#include "tessel_tools/file_text.hpp"

#include <fmt/format.h>

#include <cerrno>
#include <cstring>

namespace tessel_tools {

std::expected<std::string, std::string> read_whole_file(std::FILE* file, std::size_t limit) {
  std::string text;
  char buffer[8192];
  for (;;) {
    errno = 0;
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
    if (got > limit - text.size())
      return std::unexpected(fmt::format("the file is larger than the {} bytes this input may hold", limit));
    text.append(buffer, got);
    if (got < sizeof buffer) {
      if (std::ferror(file)) return std::unexpected(std::string(std::strerror(errno)));
      return text;
    }
  }
}

}  // namespace tessel_tools
