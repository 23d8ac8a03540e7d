#include "tessel_tools/progress.hpp"

#include <fmt/format.h>

namespace tessel_tools {

namespace {

constexpr std::chrono::milliseconds kRedrawInterval{100};
constexpr std::chrono::seconds kSinglePhaseDelay{1};

}  // namespace

std::string progress_text(std::size_t position, std::size_t count, std::uint32_t phase_id,
                          std::chrono::nanoseconds elapsed) {
  const double seconds = static_cast<double>(elapsed.count() < 0 ? 0 : elapsed.count()) / 1e9;
  return fmt::format("phase {} of {} (ID {}), {:.1f} s", position, count, phase_id, seconds);
}

void Progress::start(std::size_t count) {
  count_ = count;
  drawn_ = false;
  started_ = Clock::now();
}

void Progress::update(std::size_t position, std::uint32_t phase_id) {
  if (!enabled_) return;
  const auto now = Clock::now();
  const auto elapsed = now - started_;
  if (count_ <= 1 && elapsed < kSinglePhaseDelay) return;
  // At most ten draws a second, so that a run of many short phases does not flood the terminal.
  if (drawn_ && now - drawn_at_ < kRedrawInterval) return;
  const std::string text = progress_text(position, count_, phase_id, elapsed);
  std::string line = "\r" + text;
  if (text.size() < shown_width_) line += std::string(shown_width_ - text.size(), ' ') + "\r" + text;
  std::fwrite(line.data(), 1, line.size(), terminal_);
  std::fflush(terminal_);
  drawn_ = true;
  drawn_at_ = now;
  shown_width_ = text.size();
}

void Progress::erase() {
  if (shown_width_ == 0) return;
  const std::string blank = "\r" + std::string(shown_width_, ' ') + "\r";
  std::fwrite(blank.data(), 1, blank.size(), terminal_);
  std::fflush(terminal_);
  shown_width_ = 0;
}

}  // namespace tessel_tools
