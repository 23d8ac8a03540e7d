#pragma once
// Conditions that valid input cannot produce. Reaching one is a bug: print the fixed text and abort.

namespace support {

[[noreturn]] void internal_invariant(const char* text);

// Aborts with `text` unless `condition` holds.
inline void check_invariant(bool condition, const char* text) {
  if (!condition) [[unlikely]] internal_invariant(text);
}

}  // namespace support
