#include "tessel_codegen/exchange/snapshot.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace tessel_codegen::exchange {
namespace {

ExchangeScheduleProblem phase(std::uint32_t id, std::vector<ExchangeScheduleTransfer> transfers = {}) {
  return {id, std::move(transfers)};
}

const ExchangeScheduleTransfer kGood{0, {0}, {{1, 0}}, 4, ExchangeItemWidth::Word32};
const ExchangeScheduleTransfer kBadSource{9, {0}, {{1, 0}}, 4, ExchangeItemWidth::Word32};

TEST(SnapshotValidation, FirstProblemInFileOrderWins) {
  struct Case {
    const char* name;
    ExchangeScheduleSnapshot snapshot;
    std::string message;  // empty: valid
  };
  const std::string p = "invalid exchange-schedule snapshot: ";
  const Case cases[] = {
      {"smallest", {3, 1, {}}, ""},
      {"full card", {3, 1472, {phase(1)}}, ""},
      {"old schema", {2, 4, {}}, p + "unsupported schema version 2 (expected 3)"},
      {"schema before tile count", {2, 0, {}}, p + "unsupported schema version 2 (expected 3)"},
      {"no tiles", {3, 0, {}}, p + "tile count 0 is outside the R912 topology"},
      {"too many tiles", {3, 1473, {}}, p + "tile count 1473 is outside the R912 topology"},
      {"duplicate empty phases", {3, 4, {phase(5), phase(5)}}, p + "duplicate phase 5"},
      {"bad transfer before duplicate", {3, 4, {phase(5, {kGood, kBadSource}), phase(5)}},
       p + "phase 5 transfer 1 has source tile 9 outside 0..4"},
      {"bad transfer in the last phase", {3, 4, {phase(1, {kGood}), phase(2), phase(3, {kBadSource})}},
       p + "phase 3 transfer 0 has source tile 9 outside 0..4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto valid = c.snapshot.validate();
    if (c.message.empty()) {
      EXPECT_TRUE(valid) << valid.error().to_string();
    } else {
      ASSERT_FALSE(valid);
      EXPECT_EQ(valid.error().kind(), ExchangeLoweringErrorKind::InvalidSnapshot);
      EXPECT_EQ(valid.error().to_string(), c.message);
    }
  }
}

// A few bytes of input per phase must not cost a fixed amount of card-wide work per phase: a
// snapshot of many tiny phases took minutes to validate when each phase rebuilt the card's topology.
// Compared with the same transfers in one phase, so that the machine's speed does not matter.
TEST(SnapshotValidation, ManySmallPhasesCostAboutAsMuchAsOneLargePhase) {
  const ExchangeScheduleTransfer paired{0, {0}, {{1, 1024}}, 128, ExchangeItemWidth::Paired64};
  constexpr std::uint32_t kTransfers = 50'000;
  ExchangeScheduleSnapshot many{3, 2, {}};
  ExchangeScheduleSnapshot one{3, 2, {phase(0)}};
  for (std::uint32_t id = 0; id < kTransfers; ++id) {
    many.phases.push_back(phase(id, {id % 2 ? kGood : paired}));
    one.phases[0].transfers.push_back(id % 2 ? kGood : paired);
  }
  const auto seconds_to_validate = [](const ExchangeScheduleSnapshot& snapshot) {
    const auto started = std::chrono::steady_clock::now();
    auto valid = snapshot.validate();
    EXPECT_TRUE(valid) << valid.error().to_string();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  };
  const double one_phase = seconds_to_validate(one);
  const double many_phases = seconds_to_validate(many);
  EXPECT_LT(many_phases, 10 * one_phase + 0.05) << "one phase " << one_phase << " s";
}

}  // namespace
}  // namespace tessel_codegen::exchange
