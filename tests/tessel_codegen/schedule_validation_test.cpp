#include "tessel_codegen/exchange/schedule_validation.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace tessel_codegen::exchange {
namespace {

using Kind = ExchangeActivityKind;
constexpr std::uint32_t kReturn = 0x43A00000;

std::vector<std::uint32_t> program_of(std::uint32_t cycles) {
  if (cycles == 0) return {kReturn};
  return {0x40A00000u | (cycles - 1), kReturn};
}

ExchangeActivity activity(std::uint32_t transfer, Kind kind, std::uint32_t start, std::uint32_t payload_end,
                          std::uint32_t horizon, std::uint32_t address, std::uint32_t words) {
  return {transfer, start, payload_end, horizon, address, words, 1, kind, ExchangeItemWidth::Word32};
}

// Six tiles: transfer 0 sends 0 -> 1, transfer 1 is a paired transfer from tile 2 (partner 3) to tile 4,
// transfer 2 multicasts from tile 1 to tiles 0 and 4; tile 5 is idle.
struct Fixture {
  ExchangeScheduleProblem problem{
      9,
      {
          {0, {0x100, 0x8000}, {{1, 0x4000}}, 16, ExchangeItemWidth::Word32},
          {2, {0x200}, {{4, 0x8000}}, 128, ExchangeItemWidth::Paired64},
          {1, {0x10000}, {{0, 0x20000}, {4, 0x30000}}, 8, ExchangeItemWidth::Word32},
      }};
  PhysicalExchangePhase phase;

  Fixture() {
    phase.phase = 9;
    const std::vector<std::uint32_t> horizons{60, 70, 90, 90, 100, 0};
    phase.tile_horizons = horizons;
    phase.horizon = 100;
    for (std::uint32_t h : horizons) {
      phase.active.push_back(h != 0);
      phase.programs.push_back(program_of(h));
    }
    phase.incoming_bases = {0, 0x4000, 0, 0, 0, 0};
    phase.repeat_patches.resize(6);
    phase.activities.resize(6);
    phase.activities[0] = {activity(0, Kind::Send, 0, 16, 30, 0x100, 16), activity(2, Kind::Receive, 40, 48, 60, 0x20000, 8)};
    phase.activities[1] = {activity(0, Kind::Receive, 10, 26, 40, 0x4000, 16), activity(2, Kind::Send, 30, 38, 50, 0x10000, 8)};
    ExchangeActivity paired_send = activity(1, Kind::Send, 0, 64, 90, 0x200, 128);
    ExchangeActivity partner = activity(1, Kind::PartnerBusy, 0, 90, 90, 0x200, 128);
    paired_send.width = partner.width = ExchangeItemWidth::Paired64;
    phase.activities[2] = {paired_send};
    phase.activities[3] = {partner};
    phase.activities[4] = {activity(1, Kind::Receive, 20, 84, 95, 0x8000, 128), activity(2, Kind::Receive, 84, 92, 100, 0x30000, 8)};
  }
};

TEST(ScheduleValidation, AConsistentResultPasses) {
  Fixture f;
  auto valid = validate_exchange_schedule(6, f.problem, f.phase);
  EXPECT_TRUE(valid) << valid.error().to_string();
}

TEST(ScheduleValidation, EachCorruptionGivesItsMessage) {
  struct Case {
    const char* name;
    std::function<void(Fixture&)> corrupt;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"phase id", [](Fixture& f) { f.phase.phase = 8; }, "phase id 8 differs from snapshot phase 9"},
      {"short active", [](Fixture& f) { f.phase.active.pop_back(); f.phase.repeat_patches.pop_back(); },
       "phase 9 has 5 active entries for 6 tiles"},
      {"short programs", [](Fixture& f) { f.phase.programs.pop_back(); }, "phase 9 has 5 programs entries for 6 tiles"},
      {"short bases", [](Fixture& f) { f.phase.incoming_bases.pop_back(); },
       "phase 9 has 5 incoming bases entries for 6 tiles"},
      {"short horizons", [](Fixture& f) { f.phase.tile_horizons.pop_back(); },
       "phase 9 has 5 tile horizons entries for 6 tiles"},
      {"short activities", [](Fixture& f) { f.phase.activities.pop_back(); },
       "phase 9 has 5 activities entries for 6 tiles"},
      {"short patches", [](Fixture& f) { f.phase.repeat_patches.pop_back(); },
       "phase 9 has 5 repeat patches entries for 6 tiles"},
      {"repeat patch", [](Fixture& f) { f.phase.repeat_patches[2].push_back({0, {4}}); },
       "standalone phase 9 unexpectedly contains repeat patches"},
      {"phase horizon", [](Fixture& f) { f.phase.horizon = 99; }, "phase 9 horizon 99 differs from maximum tile horizon 100"},
      {"decoded horizon", [](Fixture& f) { f.phase.programs[1] = program_of(71); },
       "phase 9 tile 1 decoded horizon 71 differs from 70"},
      {"undecodable program", [](Fixture& f) { f.phase.programs[1] = {0xF0000000u}; },
       "exchange schedule is not encodable: truncated SENDPICP payload"},
      {"active flag", [](Fixture& f) { f.phase.active[0] = false; }, "phase 9 tile 0 has inconsistent active state"},
      {"idle tile active", [](Fixture& f) { f.phase.active[5] = true; }, "phase 9 tile 5 has inconsistent active state"},
      {"partner must be active",
       [](Fixture& f) {
         f.phase.activities[3].clear();
         f.phase.active[3] = false;
         f.phase.tile_horizons[3] = 0;
         f.phase.programs[3] = program_of(0);
       },
       "phase 9 tile 3 has inconsistent active state"},
      {"interval", [](Fixture& f) { f.phase.activities[0][0].payload_end = 31; },
       "phase 9 tile 0 transfer 0 has invalid cycle interval"},
      {"beyond tile horizon", [](Fixture& f) { f.phase.activities[0][1].horizon = 61; },
       "phase 9 tile 0 transfer 2 has invalid cycle interval"},
      {"missing transfer", [](Fixture& f) { f.phase.activities[0][0].transfer = 3; },
       "phase 9 tile 0 references missing transfer 3"},
      {"word count", [](Fixture& f) { f.phase.activities[1][0].words = 15; },
       "phase 9 tile 1 transfer 0 has wrong word count"},
      {"send on the wrong tile", [](Fixture& f) { f.phase.activities[0][0].transfer = 2; f.phase.activities[0][0].words = 8; },
       "phase 9 transfer 2 has a mismatched send activity"},
      {"send address", [](Fixture& f) { f.phase.activities[0][0].address = 0x8000; },
       "phase 9 transfer 0 has a mismatched send activity"},
      {"receive address", [](Fixture& f) { f.phase.activities[1][0].address = 0x4004; },
       "phase 9 transfer 0 has an unexpected receive activity on tile 1"},
      {"partner busy on a word transfer",
       [](Fixture& f) { f.phase.activities[5] = {activity(0, Kind::PartnerBusy, 0, 1, 1, 0x100, 16)};
                        f.phase.active[5] = true; f.phase.tile_horizons[5] = 1; f.phase.programs[5] = program_of(1); },
       "phase 9 transfer 0 has a mismatched partner-busy activity"},
      {"partner busy on the wrong tile",
       [](Fixture& f) { f.phase.activities[2].push_back(f.phase.activities[3][0]); },
       "phase 9 transfer 1 has a mismatched partner-busy activity"},
      {"overlapping sends",
       [](Fixture& f) { f.problem.transfers.push_back({0, {0x40000}, {{5, 0x40}}, 4, ExchangeItemWidth::Word32});
                        f.phase.activities[0].push_back(activity(3, Kind::Send, 15, 19, 20, 0x40000, 4)); },
       "phase 9 tile 0 has overlapping Send bus intervals"},
      {"touching sends pass the bus check",
       [](Fixture& f) { f.problem.transfers.push_back({0, {0x40000}, {{5, 0x40}}, 4, ExchangeItemWidth::Word32});
                        f.phase.activities[0].push_back(activity(3, Kind::Send, 16, 20, 20, 0x40000, 4)); },
       "phase 9 transfer 3 does not have exactly one activity per destination"},
      {"overlapping receives",
       [](Fixture& f) { f.phase.activities[4][1].start = 83; },
       "phase 9 tile 4 has overlapping Receive bus intervals"},
      {"one memory element",
       [](Fixture& f) { f.phase.activities[0][1] = activity(2, Kind::Receive, 20, 28, 60, 0x0, 8);
                        f.problem.transfers[2].destinations[0].address = 0x0; },
       "phase 9 tile 0 overlaps send/receive access to one SRAM element"},
      {"one memory element with a later iteration",
       [](Fixture& f) { f.phase.activities[0][1] = activity(2, Kind::Receive, 20, 28, 60, 0x8100, 8);
                        f.problem.transfers[2].destinations[0].address = 0x8100; },
       "phase 9 tile 0 overlaps send/receive access to one SRAM element"},
      {"borrowed transmit",
       [](Fixture& f) { f.problem.transfers.push_back({3, {0x40}, {{5, 0x40}}, 4, ExchangeItemWidth::Word32});
                        f.phase.activities[3].push_back(activity(3, Kind::Send, 50, 54, 60, 0x40, 4)); },
       "phase 9 tile 3 overlaps borrowed and local transmit intervals"},
      {"missing send", [](Fixture& f) { f.phase.activities[1].pop_back(); }, "phase 9 transfer 2 has 0 send activities"},
      {"missing partner busy",
       [](Fixture& f) { f.phase.activities[3].clear(); },
       "phase 9 transfer 1 has 0 partner-busy activities, expected 1"},
      {"missing receive", [](Fixture& f) { f.phase.activities[4].pop_back(); },
       "phase 9 transfer 2 does not have exactly one activity per destination"},
      {"duplicate receive",
       [](Fixture& f) { f.phase.activities[0].push_back(activity(2, Kind::Receive, 48, 56, 60, 0x20000, 8)); },
       "phase 9 transfer 2 does not have exactly one activity per destination"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    c.corrupt(f);
    auto valid = validate_exchange_schedule(6, f.problem, f.phase);
    ASSERT_FALSE(valid);
    EXPECT_EQ(valid.error().to_string(), c.message.starts_with("exchange schedule")
                                             ? c.message
                                             : "exchange-schedule invariant failed: " + c.message);
  }
}

}  // namespace
}  // namespace tessel_codegen::exchange
