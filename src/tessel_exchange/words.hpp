#pragma once
// The exchange instruction word format of tile programs: classification, fields and builders of every
// word kind, and the procedures that emit program words (delay runs, sender messages with folded
// receive controls, receive-control records between sends) plus the small row patch operations.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "tessel_exchange/error.hpp"

namespace tessel_exchange {

inline constexpr std::uint32_t kReturnWord = 0x43A00000;
inline constexpr std::uint32_t kSyncWord = 0x41800000;
// Sync 3: the phase-entry sync that starts every row and program.
inline constexpr std::uint32_t kEntrySyncWord = 0x41800003;

inline constexpr std::uint32_t kMaxDelayCycles = 524288;
inline constexpr std::uint32_t kMaxPicControlCycles = 128;
inline constexpr std::uint32_t kMaxXpicControlCycles = 4096;
// Explicit, Pic and PicPair sends carry at most 64 words, Offset sends 4 096.
inline constexpr std::uint32_t kMaxShortSendWords = 64;
inline constexpr std::uint32_t kMaxOffsetSendWords = 4096;
inline constexpr std::uint32_t kMaxSendOperand = 0x3FFFF;

// XPIC value fields: bits 0-12 a source tile id or the teardown code, bit 13 the paired-stream mark.
inline constexpr std::uint32_t kXpicTeardown = 0x640;
inline constexpr std::uint32_t kXpicPairedBit = 0x2000;
// PIC value bit 18: the value is a paired-format value, not a receive pointer.
inline constexpr std::uint32_t kPicFormatBit = 0x40000;

// Rows of a single transfer: Sync 3, a Return within words 1-8, zeros after it.
inline constexpr std::size_t kRowWords = 9;
using ExchangeRow = std::array<std::uint32_t, kRowWords>;

enum class WordKind : std::uint8_t {
  Return,
  Delay,
  XpicControl,
  PicControl,
  PicPairSend,
  PicSend,
  ExplicitSend,
  OffsetSend,
  Sync,
  Other,
};

// Kinds are tested in a fixed order; the first match wins.
constexpr WordKind classify_word(std::uint32_t word) {
  if (word == kReturnWord) return WordKind::Return;
  if ((word & 0xFFF80000u) == 0x40A00000u) return WordKind::Delay;
  if ((word & 0xFC000000u) == 0x64000000u) return WordKind::XpicControl;
  if ((word & 0xFC000000u) == 0x60000000u) return WordKind::PicControl;
  if (word >= 0xF0000000u) return WordKind::PicPairSend;
  if ((word & 0xF8100000u) == 0x70100000u) return WordKind::PicSend;
  if (word >= 0x78000000u && word <= 0x7FFFFFFFu) return WordKind::ExplicitSend;
  if ((word & 0xF8100000u) == 0x70000000u) return WordKind::OffsetSend;
  if ((word & 0xFFFFFF00u) == kSyncWord) return WordKind::Sync;
  return WordKind::Other;
}

constexpr bool is_pic_control(std::uint32_t word) { return classify_word(word) == WordKind::PicControl; }
constexpr bool is_xpic_control(std::uint32_t word) { return classify_word(word) == WordKind::XpicControl; }

// Fields. Each reads its word kind's layout; the caller has classified the word.
constexpr std::uint32_t delay_cycles(std::uint32_t word) { return (word & 0x7FFFFu) + 1; }
constexpr std::uint32_t xpic_control_cycles(std::uint32_t word) { return ((word >> 14) & 0xFFFu) + 1; }
constexpr std::uint32_t pic_control_cycles(std::uint32_t word) { return ((word >> 19) & 0x7Fu) + 1; }
constexpr std::uint32_t xpic_value(std::uint32_t word) { return word & 0x3FFFu; }
constexpr std::uint32_t pic_value(std::uint32_t word) { return word & 0x7FFFFu; }
// Word count of an Explicit, Pic or PicPair send.
constexpr std::uint32_t short_send_words(std::uint32_t word) { return ((word >> 21) & 0x3Fu) + 1; }
constexpr std::uint32_t offset_send_words(std::uint32_t word) {
  return ((((word >> 14) & 0x3Fu) << 6) | ((word >> 21) & 0x3Fu)) + 1;
}
// Operand of an Explicit or PicPair send (18 bits) and of an Offset send (11 bits).
constexpr std::uint32_t send_operand(std::uint32_t word) { return (word >> 3) & 0x3FFFFu; }
constexpr std::uint32_t offset_send_operand(std::uint32_t word) { return (word >> 3) & 0x7FFu; }
constexpr std::uint32_t send_control(std::uint32_t word) { return word & 7u; }

// Cycles a word occupies when executed; Sync, Return and unknown words take none. A PicPair's cycles
// are those of its first word.
constexpr std::uint32_t word_cycles(std::uint32_t word) {
  switch (classify_word(word)) {
    case WordKind::Delay: return delay_cycles(word);
    case WordKind::XpicControl: return xpic_control_cycles(word);
    case WordKind::PicControl: return pic_control_cycles(word);
    case WordKind::PicPairSend:
    case WordKind::PicSend:
    case WordKind::ExplicitSend: return short_send_words(word);
    case WordKind::OffsetSend: return offset_send_words(word);
    case WordKind::Return:
    case WordKind::Sync:
    case WordKind::Other: return 0;
  }
  return 0;
}

// Builders. Counts are 1 up to the kind's maximum; values are masked to their fields.
constexpr std::uint32_t delay_word(std::uint32_t cycles) { return 0x40A00000u | ((cycles - 1) & 0x7FFFFu); }
constexpr std::uint32_t sync_word(std::uint32_t value) { return kSyncWord | (value & 0xFFu); }
constexpr std::uint32_t xpic_control_word(std::uint32_t cycles, std::uint32_t value) {
  return 0x64000000u | (((cycles - 1) & 0xFFFu) << 14) | (value & 0x3FFFu);
}
constexpr std::uint32_t pic_control_word(std::uint32_t cycles, std::uint32_t value) {
  return 0x60000000u | (((cycles - 1) & 0x7Fu) << 19) | (value & 0x7FFFFu);
}
constexpr std::uint32_t explicit_send_word(std::uint32_t words, std::uint32_t operand, std::uint32_t control) {
  return 0x78000000u | (((words - 1) & 0x3Fu) << 21) | ((operand & 0x3FFFFu) << 3) | (control & 7u);
}
constexpr std::uint32_t offset_send_word(std::uint32_t words, std::uint32_t operand, std::uint32_t control) {
  const std::uint32_t n = words - 1;
  return 0x70000000u | ((n & 0x3Fu) << 21) | (((n >> 6) & 0x3Fu) << 14) | ((operand & 0x7FFu) << 3) |
         (control & 7u);
}
// A Pic send carrying one control; `control_word` is a PIC or an XPIC control word.
constexpr std::uint32_t pic_send_word(std::uint32_t words, std::uint32_t control_word) {
  std::uint32_t carried;
  if (is_pic_control(control_word)) {
    carried = 0x80000u | pic_value(control_word);
  } else {
    const std::uint32_t value = xpic_value(control_word);
    carried = (((value >> 13) & 1u) << 18) | (value & 0x1FFFu);
  }
  return 0x70100000u | (((words - 1) & 0x3Fu) << 21) | carried;
}
// The two words of a PicPair send carrying an XPIC and a PIC value.
constexpr std::array<std::uint32_t, 2> pic_pair_send_words(std::uint32_t words, std::uint32_t operand,
                                                           std::uint32_t control, std::uint32_t xpic,
                                                           std::uint32_t pic) {
  const std::uint32_t first = 0xF0000000u | (((pic >> 18) & 1u) << 27) | (((words - 1) & 0x3Fu) << 21) |
                              ((operand & 0x3FFFFu) << 3) | (control & 7u);
  const std::uint32_t second = ((xpic & 0x3FFFu) << 18) | (pic & 0x3FFFFu);
  return {first, second};
}
// Replaces the count field of an Explicit send (1-64 words).
constexpr std::uint32_t with_short_send_words(std::uint32_t word, std::uint32_t words) {
  return (word & ~(0x3Fu << 21)) | (((words - 1) & 0x3Fu) << 21);
}

// Event kinds of a receive control.
inline constexpr std::uint8_t kSourceEvent = 0;
inline constexpr std::uint8_t kTeardownEvent = 1;
inline constexpr std::uint8_t kPairedSourceEvent = 2;
inline constexpr std::uint8_t kPairedTeardownEvent = 3;
inline constexpr std::uint8_t kPairedPointerEvent = 4;
inline constexpr std::uint8_t kPointerEvent = 5;
inline constexpr std::uint8_t kPairedFormatEvent = 6;

// Kind of an XPIC control value (14 bits): 0-3.
constexpr std::uint8_t xpic_event_kind(std::uint32_t value) {
  const bool paired = (value & kXpicPairedBit) != 0;
  const bool teardown = (value & 0x1FFFu) == kXpicTeardown;
  return static_cast<std::uint8_t>((paired ? 2 : 0) + (teardown ? 1 : 0));
}
// Kind of a PIC control value (19 bits): 5 or 6.
constexpr std::uint8_t pic_event_kind(std::uint32_t value) {
  return (value & kPicFormatBit) != 0 ? kPairedFormatEvent : kPointerEvent;
}
// Kind of a control word as read from a receiver row; none for a word that is not a control.
constexpr std::optional<std::uint8_t> receive_event_kind(std::uint32_t word) {
  switch (classify_word(word)) {
    case WordKind::XpicControl: return xpic_event_kind(xpic_value(word));
    case WordKind::PicControl: return pic_event_kind(pic_value(word));
    default: return std::nullopt;
  }
}

// One receive control of a tile.
struct ReceiveEvent {
  std::uint32_t cycle = 0;  // cycle at which the control takes effect
  std::uint32_t word = 0;   // the PIC or XPIC control word
  std::uint8_t kind = 0;    // kSourceEvent ... kPairedFormatEvent

  bool operator==(const ReceiveEvent&) const = default;
};

// One sender row placed on a tile, at absolute cycles.
struct ScheduledSenderRow {
  ExchangeRow words{};  // the row, source operand already patched
  std::uint32_t payload_start = 0;
  std::uint32_t payload_end = 0;

  bool operator==(const ScheduledSenderRow&) const = default;
};

// The encoder's state after a prefix of a tile's timeline; encoding can resume from it.
struct Checkpoint {
  std::uint32_t pair = 0;   // 1 when the last step was a control-only PicPair
  std::uint32_t limit = 0;  // for a pair step, the last cycle the PicPair could have extended to
  std::size_t sender_index = 0;
  std::size_t receive_index = 0;
  std::size_t word_count = 0;
  std::uint32_t cycle = 0;

  bool operator==(const Checkpoint&) const = default;
};

// Receive controls may share a cycle only as a pointer event with a source or teardown event: groups
// of equal cycle in `sorted` (sorted by cycle) are checked.
Result<void> check_simultaneous_receive_controls(std::span<const ReceiveEvent> sorted);

// Appends Delay words covering `cycles` cycles, each as long as possible; 0 appends nothing.
void append_delay_run(std::vector<std::uint32_t>& words, std::uint32_t cycles);

// Gives a control or delay word the cycle count `gap`, so that it ends exactly `gap` cycles after it
// starts.
Result<std::uint32_t> timed_advance_word(std::uint32_t word, std::uint32_t gap);

// Progress of one sender message while its payload is emitted.
struct SenderMessageProgress {
  std::optional<std::uint32_t> initial_send_word;  // the row's Explicit send
  std::uint32_t send_control = 0;
  std::uint32_t remaining = 0;  // payload words still to send
  std::uint32_t sent = 0;       // payload words sent so far
  bool initial_emitted = false;
};

// Emits `count` payload words of a message as Explicit/Offset sends. With `align`, the word list ends
// at an even length so that a PicPair can follow. On failure nothing changes.
Result<void> emit_sender_words(std::vector<std::uint32_t>& words, std::uint32_t& time,
                               SenderMessageProgress& message, std::uint32_t count, bool align);

// Emits one sender row at its payload start, folding the tile's receive controls that fall inside the
// payload (`events`, sorted by cycle) into Pic and PicPair sends. On failure nothing changes.
Result<void> append_sender_message(std::vector<std::uint32_t>& words, std::uint32_t& time,
                                   const ScheduledSenderRow& row, std::span<const ReceiveEvent> events);

// Where a receive-control record writes its checkpoints: one per group of equal-cycle events, carrying
// `sender_index` and the position of the next event (`first_receive_index` counts the events before
// the span).
struct CheckpointSink {
  std::vector<Checkpoint>* checkpoints = nullptr;
  std::size_t sender_index = 0;
  std::size_t first_receive_index = 0;
};

// Emits receive controls outside any send (`events`, sorted by cycle) from the current time, then
// delays up to `end_cycle`. A lone control is a timed control word ending at its cycle; two controls at
// one cycle are a control-only PicPair. With `align`, PicPairs start at even word positions. On failure
// nothing changes.
Result<void> append_receive_events_record(std::vector<std::uint32_t>& words, std::uint32_t& time,
                                          std::span<const ReceiveEvent> events, std::uint32_t end_cycle,
                                          bool align, CheckpointSink sink = {});

// Sets the send control (1-7) of every send word of a sender row. On failure the row is unchanged.
Result<void> set_sender_control(ExchangeRow& row, std::uint32_t control);

// Writes a source byte address into the operand of the row's first Explicit send. On failure the row
// is unchanged.
Result<void> patch_sender_address(ExchangeRow& row, std::uint32_t byte_address);

// Completes a point-to-point receiver row: the sender's physical id goes into the low 13 bits of the
// word at `patch_index`, and a ninth word 0 is appended.
Result<ExchangeRow> finalize_point_receiver(std::uint32_t patch_index, const std::array<std::uint32_t, 8>& words,
                                            std::uint16_t sender_physical);

}  // namespace tessel_exchange
