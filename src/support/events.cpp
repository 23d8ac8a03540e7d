#include "support/events.hpp"

namespace support::events {

namespace {
Receiver g_receiver;
std::string g_target_prefix;
}  // namespace

namespace detail {
Level g_max_level = static_cast<Level>(0);

bool target_enabled(std::string_view target) {
  return target.substr(0, g_target_prefix.size()) == g_target_prefix;
}
}  // namespace detail

const char* level_name(Level level) {
  switch (level) {
    case Level::Error: return "ERROR";
    case Level::Warn: return "WARN";
    case Level::Info: return "INFO";
    case Level::Debug: return "DEBUG";
    case Level::Trace: return "TRACE";
  }
  return "UNKNOWN";
}

const std::string* Event::field(std::string_view name) const {
  for (const Field& f : fields)
    if (f.name == name) return &f.value;
  return nullptr;
}

void install_receiver(Receiver receiver, Level max_level, std::string target_prefix) {
  g_receiver = std::move(receiver);
  g_target_prefix = std::move(target_prefix);
  detail::g_max_level = g_receiver ? max_level : static_cast<Level>(0);
}

void remove_receiver() {
  g_receiver = nullptr;
  g_target_prefix.clear();
  detail::g_max_level = static_cast<Level>(0);
}

void emit(Event event) {
  if (g_receiver) g_receiver(event);
}

CapturingReceiver::CapturingReceiver(Level max_level, std::string target_prefix) {
  install_receiver([this](const Event& event) { events_.push_back(event); }, max_level,
                   std::move(target_prefix));
}

CapturingReceiver::~CapturingReceiver() { remove_receiver(); }

}  // namespace support::events
