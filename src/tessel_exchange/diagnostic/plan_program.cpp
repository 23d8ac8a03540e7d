#include "tessel_exchange/diagnostic/plan_program.hpp"

#include <fmt/format.h>

#include "support/checked.hpp"
#include "support/result.hpp"
#include "tessel_exchange/words.hpp"

namespace tessel_exchange::diagnostic {

namespace {

struct Decoded {
  PlanOperation operation;
  std::uint32_t cycles = 0;
  std::uint32_t consumed = 1;
};

PlanOperation send(SendEncoding encoding, std::uint32_t words, std::uint32_t raw_operand,
                   std::optional<std::uint8_t> send_control, std::vector<IncomingControl> controls) {
  PlanOperation op;
  op.kind = PlanOperation::Kind::Send;
  op.encoding = encoding;
  op.words = words;
  op.raw_operand = raw_operand;
  op.send_control = send_control;
  op.controls = std::move(controls);
  return op;
}

// Classifies the word at `i` by the word format's rules.
Result<Decoded> decode_word(std::span<const std::uint32_t> words, std::size_t i) {
  const std::uint32_t w = words[i];
  Decoded d;
  d.cycles = word_cycles(w);
  using Kind = PlanOperation::Kind;
  switch (classify_word(w)) {
    case WordKind::Return: d.operation.kind = Kind::Return; break;
    case WordKind::Delay: d.operation.kind = Kind::Delay; break;
    case WordKind::XpicControl:
      d.operation.kind = Kind::IncomingControl;
      d.operation.control = {IncomingControlStream::Xpic, xpic_value(w)};
      break;
    case WordKind::PicControl:
      d.operation.kind = Kind::IncomingControl;
      d.operation.control = {IncomingControlStream::Pic, pic_value(w)};
      break;
    case WordKind::PicPairSend: {
      if (i + 1 >= words.size()) return std::unexpected(ExchangeError::schedule("truncated SENDPICP payload"));
      const std::uint32_t v = words[i + 1];
      // Bit 27 of the first word is bit 18 of the carried PIC value.
      d.operation = send(SendEncoding::PicPair, short_send_words(w), send_operand(w),
                         static_cast<std::uint8_t>(send_control(w)),
                         {{IncomingControlStream::Xpic, v >> 18},
                          {IncomingControlStream::Pic, (v & 0x3FFFFu) | ((w >> 9) & kPicFormatBit)}});
      d.consumed = 2;
      break;
    }
    case WordKind::PicSend: {
      const IncomingControl carried =
          (w & (1u << 19)) != 0
              ? IncomingControl{IncomingControlStream::Pic, pic_value(w)}
              : IncomingControl{IncomingControlStream::Xpic, (((w >> 18) & 1u) << 13) | (w & 0x1FFFu)};
      d.operation = send(SendEncoding::Pic, short_send_words(w), w & 0x3FFFFu, std::nullopt, {carried});
      break;
    }
    case WordKind::ExplicitSend:
      d.operation = send(SendEncoding::Explicit, short_send_words(w), send_operand(w),
                         static_cast<std::uint8_t>(send_control(w)), {});
      break;
    case WordKind::OffsetSend:
      d.operation = send(SendEncoding::Offset, offset_send_words(w), offset_send_operand(w),
                         static_cast<std::uint8_t>(send_control(w)), {});
      break;
    case WordKind::Sync:
      d.operation.kind = Kind::Sync;
      d.operation.value = w & 0xFFu;
      break;
    case WordKind::Other:
      d.operation.kind = Kind::Unknown;
      d.operation.value = w;
      break;
  }
  return d;
}

const char* stream_name(IncomingControlStream stream) {
  return stream == IncomingControlStream::Pic ? "Pic" : "Xpic";
}

const char* encoding_name(SendEncoding encoding) {
  switch (encoding) {
    case SendEncoding::Explicit: return "Explicit";
    case SendEncoding::Offset: return "Offset";
    case SendEncoding::Pic: return "Pic";
    case SendEncoding::PicPair: return "PicPair";
  }
  return "Unknown";
}

}  // namespace

Result<PlanProgramDiagnostic> diagnose_plan_program(std::span<const std::uint32_t> words, bool with_addresses,
                                                    std::uint32_t base_address) {
  PlanProgramDiagnostic out;
  out.instructions.reserve(words.size());
  std::uint32_t time = 0;
  std::size_t i = 0;
  while (i < words.size()) {
    Decoded d = TESSEL_TRY(decode_word(words, i));
    const auto end = support::checked_add(time, d.cycles);
    if (!end) return std::unexpected(ExchangeError::schedule("diagnostic event horizon overflow"));
    DecodedPlanInstruction instruction;
    if (with_addresses) {
      const auto offset = i <= UINT32_MAX / 4 ? support::checked_add(base_address, static_cast<std::uint32_t>(i * 4))
                                              : std::nullopt;
      if (!offset) return std::unexpected(ExchangeError::schedule("diagnostic row address overflow"));
      instruction.address = *offset;
    }
    instruction.operation = std::move(d.operation);
    instruction.word = static_cast<std::uint32_t>(i);
    instruction.start = time;
    instruction.end = *end;
    out.instructions.push_back(std::move(instruction));
    time = *end;
    i += d.consumed;
  }
  out.horizon = time;
  out.word_count = static_cast<std::uint32_t>(words.size());
  return out;
}

std::string to_string(const IncomingControl& control) {
  return fmt::format("IncomingControl {{ stream: {}, value: {} }}", stream_name(control.stream), control.value);
}

std::string to_string(const PlanOperation& op) {
  using Kind = PlanOperation::Kind;
  switch (op.kind) {
    case Kind::Delay: return "Delay";
    case Kind::Return: return "Return";
    case Kind::Sync: return fmt::format("Sync({})", op.value);
    case Kind::Unknown: return fmt::format("Unknown({})", op.value);
    case Kind::IncomingControl: return fmt::format("IncomingControl({})", to_string(op.control));
    case Kind::Send: {
      std::string controls;
      for (const IncomingControl& c : op.controls) {
        if (!controls.empty()) controls += ", ";
        controls += to_string(c);
      }
      return fmt::format("Send {{ encoding: {}, words: {}, raw_operand: {}, send_control: {}, controls: [{}] }}",
                         encoding_name(op.encoding), op.words, op.raw_operand,
                         op.send_control ? fmt::format("Some({})", *op.send_control) : std::string("None"),
                         controls);
    }
  }
  return "Unknown";
}

std::string PlanProgramDiagnostic::render() const {
  std::string text;
  for (const DecodedPlanInstruction& instruction : instructions) {
    if (instruction.address)
      text += fmt::format("0x{:05x}", *instruction.address);
    else
      text += fmt::format("word+{}", instruction.word);
    text += fmt::format(" cycles={}..{} {}\n", instruction.start, instruction.end, to_string(instruction.operation));
  }
  return text;
}

}  // namespace tessel_exchange::diagnostic
