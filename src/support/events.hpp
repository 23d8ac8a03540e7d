#pragma once
// Structured events: a target, a level, a message and named fields.
//
// Nothing is installed by default, and then an event costs one load and a branch: its fields are only
// formatted when a receiver is installed for the event's level and target (see TESSEL_EVENT).

#include <fmt/format.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace support::events {

enum class Level : std::uint8_t { Error = 1, Warn = 2, Info = 3, Debug = 4, Trace = 5 };

const char* level_name(Level level);

struct Field {
  std::string name;
  std::string value;
  bool operator==(const Field&) const = default;
};

struct Event {
  std::string target;
  Level level = Level::Info;
  std::string message;
  std::vector<Field> fields;

  // The value of the named field, or nullptr.
  const std::string* field(std::string_view name) const;
};

using Receiver = std::function<void(const Event&)>;

namespace detail {
extern Level g_max_level;  // 0 when no receiver is installed
bool target_enabled(std::string_view target);
}  // namespace detail

// True when an installed receiver wants events of this level and target.
inline bool enabled(Level level, std::string_view target) {
  return static_cast<std::uint8_t>(level) <= static_cast<std::uint8_t>(detail::g_max_level) &&
         detail::target_enabled(target);
}

// Installs `receiver` for events up to `max_level` whose target starts with `target_prefix`
// (empty: every target). Replaces any receiver installed before.
void install_receiver(Receiver receiver, Level max_level, std::string target_prefix = {});
void remove_receiver();

void emit(Event event);

template <class T>
Field field(std::string_view name, const T& value) {
  return Field{std::string(name), fmt::format("{}", value)};
}

// Collects every event while it lives; for tests.
class CapturingReceiver {
 public:
  explicit CapturingReceiver(Level max_level = Level::Trace, std::string target_prefix = {});
  ~CapturingReceiver();
  CapturingReceiver(const CapturingReceiver&) = delete;
  CapturingReceiver& operator=(const CapturingReceiver&) = delete;

  const std::vector<Event>& events() const { return events_; }
  void clear() { events_.clear(); }

 private:
  std::vector<Event> events_;
};

}  // namespace support::events

// Emits an event; the message and the fields (support::events::field(...) values) are only evaluated
// when a receiver wants it.
#define TESSEL_EVENT(level, target, message, ...)                                            \
  do {                                                                                       \
    if (::support::events::enabled((level), (target))) [[unlikely]]                          \
      ::support::events::emit(::support::events::Event{(target), (level), (message), {__VA_ARGS__}}); \
  } while (false)
