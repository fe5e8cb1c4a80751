#include "host/replay_summary.h"

#include <cstdio>
#include <sstream>

#include "host/replay_console.h"

namespace {

std::string seconds_text(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", seconds);
  return text;
}

}  // namespace

bool input_failed(const input_summary& input) {
  return !input.error.empty() || (input.requests == 0 && input.skipped > 0);
}

double notifications_per_second(const replay_summary& s) {
  return s.replay_seconds > 0 ? static_cast<double>(s.notifications) / s.replay_seconds : 0;
}

std::string format_summary(const replay_summary& s) {
  std::ostringstream out;
  out << "quillharbor-replay summary\n";
  out << "  lines read      " << s.lines_read << " in " << s.inputs << (s.inputs == 1 ? " input, " : " inputs, ")
      << human_bytes(s.bytes_read) << " (" << s.requests << " requests, " << s.directives
      << " directives, " << s.blank << " blank)\n";
  out << "  lines skipped   " << s.skipped << " malformed\n";
  for (const auto& input : s.per_input) {
    if (input.skipped > 0)
      out << "    " << input.name << ": " << input.skipped << " skipped of " << input.requests + input.skipped
          << " request lines\n";
    for (const auto& skip : input.first_skips) out << "      " << skip << "\n";
    if (!input.error.empty()) out << "    " << input.name << ": ended early: " << input.error << "\n";
    if (input_failed(input) && input.error.empty())
      out << "    " << input.name << ": NOTHING REPLAYED" << (input.hint.empty() ? "" : " (" + input.hint + ")")
          << "\n";
  }
  out << "  notifications   " << s.notifications << " sent from " << s.threads << " request threads\n";
  out << "  events          " << s.events << "\n";
  out << "  trace lines     " << s.trace_lines << "\n";
  out << "  module          " << s.module_path << "\n";
  if (!s.settings.empty()) out << "  settings        " << s.settings << "\n";
  if (!s.staged_copy.empty()) out << "  loaded copy     " << s.staged_copy << " (removed again)\n";
  out << "  load            " << (s.load_ok ? "succeeded" : "FAILED");
  if (!s.load_event.empty()) out << " (" << s.load_event << ")";
  out << "\n";
  out << "  unload          ";
  if (!s.unload_called) out << "not called (the web server unloads only a loaded filter)\n";
  else out << (s.unload_ok ? "succeeded" : "FAILED (TerminateFilter returned FALSE)") << "\n";
  out << "  elapsed         " << seconds_text(s.total_seconds) << " (replay " << seconds_text(s.replay_seconds)
      << ", unload " << seconds_text(s.unload_seconds) << ")\n";
  char rate[64];
  std::snprintf(rate, sizeof rate, "%.0f", notifications_per_second(s));
  out << "  notifications/s " << rate << "\n";
  return out.str();
}
