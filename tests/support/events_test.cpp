#include "support/events.hpp"

#include <gtest/gtest.h>

namespace support::events {
namespace {

struct Counted {
  int* formatted;
};

}  // namespace
}  // namespace support::events

template <>
struct fmt::formatter<support::events::Counted> : fmt::formatter<int> {
  auto format(const support::events::Counted& c, fmt::format_context& ctx) const {
    ++*c.formatted;
    return fmt::formatter<int>::format(*c.formatted, ctx);
  }
};

namespace support::events {
namespace {

TEST(Events, FieldsAreFormattedOnlyForAnInstalledReceiver) {
  int formatted = 0;
  TESSEL_EVENT(Level::Debug, "tessel_exchange", "route", field("count", Counted{&formatted}));
  EXPECT_EQ(formatted, 0);
  {
    CapturingReceiver capture(Level::Info);
    TESSEL_EVENT(Level::Debug, "tessel_exchange", "route", field("count", Counted{&formatted}));
    EXPECT_EQ(formatted, 0) << "DEBUG is above the receiver's INFO level";
    TESSEL_EVENT(Level::Info, "tessel_exchange", "route", field("count", Counted{&formatted}), field("tile", 3));
    ASSERT_EQ(capture.events().size(), 1u);
    const Event& event = capture.events()[0];
    EXPECT_EQ(event.target, "tessel_exchange");
    EXPECT_EQ(event.level, Level::Info);
    EXPECT_EQ(event.message, "route");
    ASSERT_NE(event.field("tile"), nullptr);
    EXPECT_EQ(*event.field("tile"), "3");
    EXPECT_EQ(*event.field("count"), "1");
    EXPECT_EQ(event.field("missing"), nullptr);
  }
  TESSEL_EVENT(Level::Error, "tessel_exchange", "route", field("count", Counted{&formatted}));
  EXPECT_EQ(formatted, 1) << "the receiver is removed with its owner";
}

TEST(Events, TargetPrefixSelectsEvents) {
  CapturingReceiver capture(Level::Trace, "tessel_codegen");
  TESSEL_EVENT(Level::Info, "tessel_exchange", "ignored");
  TESSEL_EVENT(Level::Info, "tessel_codegen::exchange", "kept");
  ASSERT_EQ(capture.events().size(), 1u);
  EXPECT_EQ(capture.events()[0].message, "kept");
}

}  // namespace
}  // namespace support::events
