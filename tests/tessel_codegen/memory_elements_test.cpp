#include "tessel_codegen/exchange/memory_elements.hpp"

#include <gtest/gtest.h>

namespace tessel_codegen::exchange {
namespace {

constexpr ExchangeMemoryElement low(std::uint32_t index) { return {false, index}; }
constexpr ExchangeMemoryElement high(std::uint32_t index) { return {true, index}; }

TEST(MemoryElements, SpansAtRegionAndAddressSpaceEdges) {
  struct Case {
    std::uint32_t start, words;
    std::vector<ExchangeMemoryElement> elements;
  };
  const Case cases[] = {
      {0x80000 - 16, 8, {low(31), high(0)}},
      {0x4000, 4096, {low(1)}},
      {0x4000, 4097, {low(1), low(2)}},
      {0x3FFC, 2, {low(0), low(1)}},
      {0x100, 0, {}},
      {0x80000, 0x2000, {high(0)}},
      {0x80000, 0x2001, {high(0), high(1)}},
      {0x7FFFC, 1, {low(31)}},
      {0xFFFFFFF0, 4148, {high((0xFFFFFFF0u - 0x80000) >> 15)}},      // end saturates at 0xFFFFFFFF
      {0xFFFF8000 - 8, 0x40000000, {high(0x1FFEE), high(0x1FFEF)}},  // words * 4 saturates too
      {0, 0xFFFFFFFF, {}},  // filled below: every low and high element
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.start << " words " << std::dec << c.words);
    auto elements = span_memory_elements(c.start, c.words);
    if (c.start == 0 && c.words == 0xFFFFFFFF) {
      ASSERT_EQ(elements.size(), 32u + ((0xFFFFFFFFu - 0x80000) >> 15) + 1);
      EXPECT_EQ(elements[31], low(31));
      EXPECT_EQ(elements[32], high(0));
      EXPECT_EQ(elements.back(), high((0xFFFFFFFEu - 0x80000) >> 15));
      continue;
    }
    EXPECT_EQ(elements, c.elements);
  }
}

TEST(MemoryElements, OrderPutsTheLowRegionFirst) {
  EXPECT_LT(low(31), high(0));
  EXPECT_LT(high(0), high(1));
  EXPECT_LT(low(0), low(1));
  EXPECT_EQ(effective_memory_element(0x7FFFF), low(31));
  EXPECT_EQ(effective_memory_element(0x88000), high(1));
}

TEST(MemoryElements, SharedElements) {
  struct Case {
    std::uint32_t first_start, first_words, second_start, second_words;
    bool shared;
  };
  const Case cases[] = {
      {0x0, 1, 0x3FFC, 1, true},
      {0x0, 1, 0x4000, 1, false},
      {0x80000, 1, 0x80000 + 0x8000 - 4, 1, true},
      {0x80000, 1, 0x88000, 1, false},
      {0x0, 0, 0x0, 4, false},
      {0x0, 4, 0x0, 0, false},
      {0x3FF0, 8, 0x4000, 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.first_start << " / " << c.second_start);
    EXPECT_EQ(spans_share_effective_memory_element(c.first_start, c.first_words, c.second_start, c.second_words),
              c.shared);
  }
}

}  // namespace
}  // namespace tessel_codegen::exchange
