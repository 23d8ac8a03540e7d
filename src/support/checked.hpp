#pragma once
// Checked and saturating u32 arithmetic for cycles and addresses: overflow is reported, never wrapped.

#include <cstdint>
#include <optional>

namespace support {

inline std::optional<std::uint32_t> checked_add(std::uint32_t a, std::uint32_t b) {
  std::uint32_t out;
  if (__builtin_add_overflow(a, b, &out)) return std::nullopt;
  return out;
}

inline std::optional<std::uint32_t> checked_sub(std::uint32_t a, std::uint32_t b) {
  std::uint32_t out;
  if (__builtin_sub_overflow(a, b, &out)) return std::nullopt;
  return out;
}

inline std::optional<std::uint32_t> checked_mul(std::uint32_t a, std::uint32_t b) {
  std::uint32_t out;
  if (__builtin_mul_overflow(a, b, &out)) return std::nullopt;
  return out;
}

inline std::uint32_t saturating_add(std::uint32_t a, std::uint32_t b) {
  std::uint32_t out;
  return __builtin_add_overflow(a, b, &out) ? UINT32_MAX : out;
}

inline std::uint32_t saturating_mul(std::uint32_t a, std::uint32_t b) {
  std::uint32_t out;
  return __builtin_mul_overflow(a, b, &out) ? UINT32_MAX : out;
}

}  // namespace support
