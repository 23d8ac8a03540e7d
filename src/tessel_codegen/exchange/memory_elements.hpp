#pragma once
// Memory elements: the units of tile memory in which send/receive conflicts are detected. Two accesses
// conflict when they touch the same element, even if their byte ranges are disjoint.

#include <compare>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace tessel_codegen::exchange {

// Addresses from here on belong to the high region of 32 KiB elements; below it, 16 KiB elements.
inline constexpr std::uint32_t kHighRegionBase = 0x80000;

struct ExchangeMemoryElement {
  bool high_region = false;
  std::uint32_t index = 0;

  // Low region first, then by index.
  auto operator<=>(const ExchangeMemoryElement&) const = default;
};

// The element holding an address.
ExchangeMemoryElement effective_memory_element(std::uint32_t address);

// The ascending elements touched by `words` 32-bit words from `start`; the span's end saturates at
// 0xFFFFFFFF. An empty span touches nothing.
std::vector<ExchangeMemoryElement> span_memory_elements(std::uint32_t start, std::uint32_t words);

// Appends the elements of a span to `out` (same order as span_memory_elements).
void append_span_memory_elements(std::uint32_t start, std::uint32_t words, std::vector<ExchangeMemoryElement>& out);

// The first and last element of a non-empty span; the span touches every element between them.
std::optional<std::pair<ExchangeMemoryElement, ExchangeMemoryElement>> span_element_range(std::uint32_t start,
                                                                                         std::uint32_t words);

// True when the two spans touch a common element.
bool spans_share_effective_memory_element(std::uint32_t first_start, std::uint32_t first_words,
                                          std::uint32_t second_start, std::uint32_t second_words);

}  // namespace tessel_codegen::exchange
