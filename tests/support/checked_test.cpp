#include "support/checked.hpp"

#include <gtest/gtest.h>

namespace support {
namespace {

TEST(Checked, OverflowIsReportedOrSaturated) {
  EXPECT_EQ(checked_add(0xFFFFFFF0u, 15), 0xFFFFFFFFu);
  EXPECT_EQ(checked_add(0xFFFFFFF0u, 16), std::nullopt);
  EXPECT_EQ(checked_sub(3, 4), std::nullopt);
  EXPECT_EQ(checked_mul(0x40000000u, 4), std::nullopt);
  EXPECT_EQ(checked_mul(0x3FFFFFFFu, 4), 0xFFFFFFFCu);
  EXPECT_EQ(saturating_add(0xFFFFFFF0u, 100), 0xFFFFFFFFu);
  EXPECT_EQ(saturating_mul(0x40000000u, 4), 0xFFFFFFFFu);
  EXPECT_EQ(saturating_mul(4148, 4), 16592u);
}

}  // namespace
}  // namespace support
