#pragma once
// A one-line progress indicator on a terminal: which phase of how many, and the elapsed time.
//
// It is shown only when enabled (standard error is a terminal) and the run has more than one
// phase or has been running for more than a second. It is redrawn in place with a carriage
// return, at most ten times a second, and erased before anything else is written to the terminal.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tessel_tools {

// "phase 2 of 5 (ID 7), 3.4 s"
std::string progress_text(std::size_t position, std::size_t count, std::uint32_t phase_id,
                          std::chrono::nanoseconds elapsed);

class Progress {
 public:
  using Clock = std::chrono::steady_clock;

  // A disabled indicator never writes.
  Progress(std::FILE* terminal, bool enabled) : terminal_(terminal), enabled_(enabled) {}

  // The run of `count` phases starts now.
  void start(std::size_t count);
  // Phase `position` (from 1) with this ID is being replayed; redraws when due.
  void update(std::size_t position, std::uint32_t phase_id);
  // Erases the line, if one is shown; the next update draws it again.
  void erase();

 private:
  std::FILE* terminal_;
  bool enabled_;
  std::size_t count_ = 0;
  bool drawn_ = false;
  Clock::time_point started_{};
  Clock::time_point drawn_at_{};
  std::size_t shown_width_ = 0;  // characters of the line on screen, 0 when none is shown
};

}  // namespace tessel_tools
