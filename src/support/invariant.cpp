#include "support/invariant.hpp"

#include <cstdio>
#include <cstdlib>

namespace support {

void internal_invariant(const char* text) {
  std::fflush(stdout);
  std::fprintf(stderr, "internal invariant failed: %s\n", text);
  std::fflush(stderr);
  std::abort();
}

}  // namespace support
