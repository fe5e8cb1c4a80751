// The figures of one replay and the summary printed at its end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What became of one input's lines.
struct input_summary {
  std::string name;
  std::uint64_t requests = 0;
  std::uint64_t skipped = 0;
  std::vector<std::string> first_skips;  // "line 7: why", the first few
  std::string hint;   // a guess at what the input is, when nothing of it was replayed
  std::string error;  // why it ended early, "" when it was read to its end
};

// Nothing of it replayed though it held lines, or not read to its end.
bool input_failed(const input_summary& input);

struct replay_summary {
  std::uint64_t inputs = 0;
  std::uint64_t lines_read = 0;
  std::uint64_t bytes_read = 0;
  std::uint64_t requests = 0;  // request lines that made a notification
  std::uint64_t directives = 0;
  std::uint64_t blank = 0;
  std::uint64_t skipped = 0;  // malformed lines
  std::vector<input_summary> per_input;
  std::uint64_t notifications = 0;
  unsigned threads = 0;
  std::uint64_t events = 0;
  std::uint64_t trace_lines = 0;
  std::string module_path;  // as given, before any copy
  std::string settings;     // where its settings came from
  std::string staged_copy;  // the temporary copy that was loaded, if any
  bool load_ok = false;
  std::string load_event;  // the last event the load wrote, "" when none came
  bool unload_called = false;
  bool unload_ok = false;
  double replay_seconds = 0;  // first notification to the last one returned
  double unload_seconds = 0;  // TerminateFilter, which drains the record queue
  double total_seconds = 0;
};

// Several lines, each ending in a line end.
std::string format_summary(const replay_summary& summary);

// Notifications per second over the replay, 0 when it took no measurable time.
double notifications_per_second(const replay_summary& summary);
