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

bool spans_share_effective_memory_element(std::uint32_t first_start, std::uint32_t first_words,
                                          std::uint32_t second_start, std::uint32_t second_words) {
  const auto first = span_memory_elements(first_start, first_words);
  if (first.empty()) return false;
  const auto second = span_memory_elements(second_start, second_words);
  for (const ExchangeMemoryElement& element : first)
    if (std::binary_search(second.begin(), second.end(), element)) return true;
  return false;
}

}  // namespace tessel_codegen::exchange
