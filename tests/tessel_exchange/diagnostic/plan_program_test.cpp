#include "tessel_exchange/diagnostic/plan_program.hpp"

#include <gtest/gtest.h>

namespace tessel_exchange::diagnostic {
namespace {

using Stream = IncomingControlStream;

std::string render(std::vector<std::uint32_t> words, bool with_addresses = false, std::uint32_t base = 0) {
  auto decoded = diagnose_plan_program(words, with_addresses, base);
  return decoded ? decoded->render() : "error: " + decoded.error().to_string();
}

TEST(PlanProgram, DecodesEveryWordKind) {
  struct Case {
    const char* name;
    std::vector<std::uint32_t> words;
    std::string text;
  };
  const Case cases[] = {
      {"empty", {}, ""},
      {"return", {0x43A00000}, "word+0 cycles=0..0 Return\n"},
      {"delay", {0x40A00038, 0x43A00000}, "word+0 cycles=0..57 Delay\nword+1 cycles=57..57 Return\n"},
      {"sync", {0x41800003}, "word+0 cycles=0..0 Sync(3)\n"},
      {"xpic source select", {0x641C0000},
       "word+0 cycles=0..113 IncomingControl(IncomingControl { stream: Xpic, value: 0 })\n"},
      {"xpic teardown", {0x64000640},
       "word+0 cycles=0..1 IncomingControl(IncomingControl { stream: Xpic, value: 1600 })\n"},
      {"pic pointer", {0x60000000u | (127u << 19) | 0x10},
       "word+0 cycles=0..128 IncomingControl(IncomingControl { stream: Pic, value: 16 })\n"},
      {"explicit send", {0x78000000u | (3u << 21) | (16u << 3) | 1},
       "word+0 cycles=0..4 Send { encoding: Explicit, words: 4, raw_operand: 16, send_control: Some(1), controls: [] }\n"},
      {"offset send of 4033 words", {0x70000000u | (63u << 14) | (5u << 3) | 3},
       "word+0 cycles=0..4033 Send { encoding: Offset, words: 4033, raw_operand: 5, send_control: Some(3), controls: [] }\n"},
      {"pic send carrying a pic control", {0x70100000u | (1u << 19) | 5},
       "word+0 cycles=0..1 Send { encoding: Pic, words: 1, raw_operand: 5, send_control: None, controls: "
       "[IncomingControl { stream: Pic, value: 5 }] }\n"},
      {"pic send carrying a paired xpic control", {0x70100000u | (1u << 18) | 5},
       "word+0 cycles=0..1 Send { encoding: Pic, words: 1, raw_operand: 5, send_control: None, controls: "
       "[IncomingControl { stream: Xpic, value: 8197 }] }\n"},
      {"picpair", {0xF0000000u, (100u << 18) | 32, 0x43A00000},
       "word+0 cycles=0..1 Send { encoding: PicPair, words: 1, raw_operand: 0, send_control: Some(0), controls: "
       "[IncomingControl { stream: Xpic, value: 100 }, IncomingControl { stream: Pic, value: 32 }] }\n"
       "word+2 cycles=1..1 Return\n"},
      {"picpair moves bit 27 into the pic value", {0xF8000000u | (1u << 21) | 2, 0x1},
       "word+0 cycles=0..2 Send { encoding: PicPair, words: 2, raw_operand: 0, send_control: Some(2), controls: "
       "[IncomingControl { stream: Xpic, value: 0 }, IncomingControl { stream: Pic, value: 262145 }] }\n"},
      {"unknown", {0x10000000u, 0x80000000u},
       "word+0 cycles=0..0 Unknown(268435456)\nword+1 cycles=0..0 Unknown(2147483648)\n"},
      {"truncated picpair", {0x43A00000, 0xF0000000u}, "error: exchange schedule is not encodable: truncated SENDPICP payload"},
      {"horizon overflow", std::vector<std::uint32_t>(8193, 0x40A7FFFF),
       "error: exchange schedule is not encodable: diagnostic event horizon overflow"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(render(c.words), c.text);
  }
}

TEST(PlanProgram, InstructionFieldsAndAddresses) {
  auto decoded = diagnose_plan_program(std::vector<std::uint32_t>{0x40A00009, 0xF0000000u, 0, 0x43A00000}, true, 0x100);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->horizon, 11u);
  EXPECT_EQ(decoded->word_count, 4u);
  ASSERT_EQ(decoded->instructions.size(), 3u);
  EXPECT_EQ(decoded->instructions[1].address, 0x104u);
  EXPECT_EQ(decoded->instructions[1].word, 1u);
  EXPECT_EQ(decoded->instructions[1].start, 10u);
  EXPECT_EQ(decoded->instructions[1].end, 11u);
  EXPECT_EQ(decoded->instructions[2].word, 3u);
  EXPECT_EQ(decoded->render(),
            "0x00100 cycles=0..10 Delay\n"
            "0x00104 cycles=10..11 Send { encoding: PicPair, words: 1, raw_operand: 0, send_control: Some(0), controls: "
            "[IncomingControl { stream: Xpic, value: 0 }, IncomingControl { stream: Pic, value: 0 }] }\n"
            "0x0010c cycles=11..11 Return\n");
  EXPECT_EQ(diagnose_plan_program(std::vector<std::uint32_t>{0x43A00000, 0x43A00000}, true, 0xFFFFFFFC).error(),
            ExchangeError::schedule("diagnostic row address overflow"));
  EXPECT_TRUE(diagnose_plan_program(std::vector<std::uint32_t>{0x43A00000, 0x43A00000}, false, 0xFFFFFFFC));
  EXPECT_EQ(decoded->instructions[0].operation.kind, PlanOperation::Kind::Delay);
  EXPECT_EQ(decoded->instructions[1].operation.controls[0], (IncomingControl{Stream::Xpic, 0}));
}

}  // namespace
}  // namespace tessel_exchange::diagnostic
