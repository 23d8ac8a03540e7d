#include "tessel_exchange/error.hpp"

#include <gtest/gtest.h>

namespace tessel_exchange {
namespace {

TEST(ExchangeError, DisplayAndDebugForms) {
  struct Case {
    ExchangeError error;
    const char* display;
    const char* debug;
  };
  const Case cases[] = {
      {ExchangeError::validation_budget_exceeded(), "exchange incremental-encoding work budget exhausted",
       "ValidationBudgetExceeded"},
      {ExchangeError::tile(1470), "logical tile 1470 is out of range", "Tile(1470)"},
      {ExchangeError::duplicate_tile(), "exchange endpoints must be distinct", "DuplicateTile"},
      {ExchangeError::count(0), "exchange count 0 is outside 1..=4148", "Count(0)"},
      {ExchangeError::count(5000), "exchange count 5000 is outside 1..=4148", "Count(5000)"},
      {ExchangeError::receiver_set(), "invalid multicast receiver set", "ReceiverSet"},
      {ExchangeError::schedule("sender payload"), "exchange schedule is not encodable: sender payload",
       "Schedule(\"sender payload\")"},
      {ExchangeError::plan_offset_range(70000, 65535),
       "exchange event offset 70000 cycles from the phase-entry sync exceeds the encodable maximum of 65535 cycles",
       "PlanOffsetRange { cycles: 70000, maximum: 65535 }"},
      {ExchangeError::address(0x1F3), "tile address 0x1f3 is not encodable", "Address(499)"},
      {ExchangeError::host_packet(), "host exchange address or length is not encodable", "HostPacket"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.debug);
    EXPECT_EQ(c.error.to_string(), c.display);
    EXPECT_EQ(fmt::format("{}", c.error), c.display);
    EXPECT_EQ(c.error.debug(), c.debug);
  }
}

TEST(ExchangeError, ScheduleReasonsCompareByText) {
  const char first[] = "sender payload";
  const char second[] = "sender payload";
  EXPECT_EQ(ExchangeError::schedule(first), ExchangeError::schedule(second));
  EXPECT_NE(ExchangeError::schedule("sender payload"), ExchangeError::schedule("sender row entry"));
  EXPECT_TRUE(ExchangeError::schedule(first).is_schedule("sender payload"));
  EXPECT_FALSE(ExchangeError::tile(3).is_schedule("sender payload"));
  EXPECT_NE(ExchangeError::tile(3), ExchangeError::count(3));
}

}  // namespace
}  // namespace tessel_exchange
