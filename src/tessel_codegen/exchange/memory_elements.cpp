#include "tessel_codegen/exchange/memory_elements.hpp"

#include <algorithm>

#include "support/checked.hpp"

namespace tessel_codegen::exchange {

namespace {

constexpr std::uint32_t kLowElementShift = 14;
constexpr std::uint32_t kHighElementShift = 15;

}  // namespace

ExchangeMemoryElement effective_memory_element(std::uint32_t address) {
  if (address >= kHighRegionBase) return {true, (address - kHighRegionBase) >> kHighElementShift};
  return {false, address >> kLowElementShift};
}

void append_span_memory_elements(std::uint32_t start, std::uint32_t words, std::vector<ExchangeMemoryElement>& out) {
  const std::uint32_t end = support::saturating_add(start, support::saturating_mul(words, 4));
  std::uint32_t cursor = start;
  while (cursor < end) {
    const bool high = cursor >= kHighRegionBase;
    const std::uint32_t base = high ? kHighRegionBase : 0;
    const std::uint32_t shift = high ? kHighElementShift : kLowElementShift;
    const std::uint32_t index = (cursor - base) >> shift;
    out.push_back({high, index});
    const std::uint32_t next = support::saturating_add(base, support::saturating_mul(index + 1, 1u << shift));
    if (next >= end) break;
    cursor = next;
  }
}

std::vector<ExchangeMemoryElement> span_memory_elements(std::uint32_t start, std::uint32_t words) {
  std::vector<ExchangeMemoryElement> out;
  append_span_memory_elements(start, words, out);
  return out;
}

std::optional<std::pair<ExchangeMemoryElement, ExchangeMemoryElement>> span_element_range(std::uint32_t start,
                                                                                         std::uint32_t words) {
  const std::uint32_t end = support::saturating_add(start, support::saturating_mul(words, 4));
  if (start >= end) return std::nullopt;
  return std::pair{effective_memory_element(start), effective_memory_element(end - 1)};
}

bool spans_share_effective_memory_element(std::uint32_t first_start, std::uint32_t first_words,
                                          std::uint32_t second_start, std::uint32_t second_words) {
  // A span's elements are consecutive in element order, so two spans share one exactly when their
  // first-to-last ranges overlap.
  const auto first = span_element_range(first_start, first_words);
  if (!first) return false;
  const auto second = span_element_range(second_start, second_words);
  if (!second) return false;
  return std::max(first->first, second->first) <= std::min(first->second, second->second);
}

}  // namespace tessel_codegen::exchange
