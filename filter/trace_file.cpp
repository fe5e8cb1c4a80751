#include "filter/trace_file.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "filter/text_cut.h"
#include "platform/append_file.h"
#include "platform/clock.h"
#include "platform/thread_id.h"

namespace {

// How long a writer waits for another's write before it drops its line: a
// request thread must not stall behind a slow disk.
constexpr std::chrono::milliseconds longest_wait{100};

struct trace_file {
  std::atomic<bool> open{false};  // read without the lock: no file, no cost
  std::mutex lock;                // around the file and the fields below
  platform::append_file file;
  std::string path;
  std::int64_t max_size = 0;
  std::int64_t size = 0;
  std::atomic<std::uint64_t> lost{0};  // lines dropped since the last one written
};

trace_file& the_trace_file() {
  static trace_file file;
  return file;
}

// Takes the lock unless it stays held for `longest_wait`. A loop of try_lock,
// not a timed lock: every thread checker understands it.
bool lock_within(std::mutex& lock) {
  const auto until = std::chrono::steady_clock::now() + longest_wait;
  for (int tries = 0; !lock.try_lock(); ++tries) {
    if (std::chrono::steady_clock::now() >= until) return false;
    if (tries < 64)
      std::this_thread::yield();
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Days since 1970-01-01 to the civil date (the proleptic Gregorian calendar).
void civil_date(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto of_era = static_cast<unsigned>(days - era * 146097);
  const unsigned year_of_era = (of_era - of_era / 1460 + of_era / 36524 - of_era / 146096) / 365;
  const unsigned day_of_year = of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned shifted_month = (5 * day_of_year + 2) / 153;
  day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
  month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
  year = static_cast<std::int64_t>(year_of_era) + era * 400 + (month <= 2 ? 1 : 0);
}

// Under the lock: renames the full file away and starts a new one.
void rotate(trace_file& trace) {
  trace.file.close();
  platform::replace_file(trace.path, trace.path + ".1");
  trace.file.open(trace.path);
  trace.size = trace.file.size();
}

void write_locked(trace_file& trace, const std::string& line) {
  if (const std::uint64_t lost = trace.lost.exchange(0)) {
    // Stamped and attributed as the line that notices it.
    const std::string note =
        line.substr(0, line.find(']') + 2) + std::to_string(lost) + " trace lines lost\n";
    if (trace.file.write(note.data(), note.size())) trace.size += static_cast<std::int64_t>(note.size());
  }
  if (trace.file.write(line.data(), line.size())) trace.size += static_cast<std::int64_t>(line.size());
  if (trace.max_size > 0 && trace.size >= trace.max_size) rotate(trace);
}

}  // namespace

std::string utc_stamp(std::int64_t milliseconds) {
  std::int64_t days = milliseconds / 86400000;
  std::int64_t of_day = milliseconds % 86400000;
  if (of_day < 0) {
    of_day += 86400000;
    --days;
  }
  std::int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  civil_date(days, year, month, day);
  char text[48];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02d:%02d:%02d.%03dZ",
                static_cast<long long>(year), month, day, static_cast<int>(of_day / 3600000),
                static_cast<int>(of_day / 60000 % 60), static_cast<int>(of_day / 1000 % 60),
                static_cast<int>(of_day % 1000));
  return text;
}

bool open_trace_file(const std::string& path, std::int64_t max_size) noexcept {
  trace_file& trace = the_trace_file();
  std::lock_guard<std::mutex> hold(trace.lock);
  trace.open.store(false);
  try {
    trace.path = path;
  } catch (...) {
    trace.file.close();
    return false;
  }
  if (!trace.file.open(path)) return false;
  trace.max_size = max_size;
  trace.size = trace.file.size();
  trace.lost.store(0);
  trace.open.store(true);
  return true;
}

void close_trace_file() noexcept {
  trace_file& trace = the_trace_file();
  std::lock_guard<std::mutex> hold(trace.lock);
  trace.open.store(false);
  trace.file.close();
}

void append_trace_file(std::string_view text) noexcept {
  trace_file& trace = the_trace_file();
  if (!trace.open.load(std::memory_order_relaxed)) return;
  try {
    // Composed before the lock, so that writers wait only for each other's write.
    std::string line = utc_stamp(platform::utc_milliseconds());
    line += " [";
    line += std::to_string(platform::current_thread_id());
    line += "] ";
    const std::size_t start = line.size();
    line += cut_text(text.substr(0, text.find('\0')), outlet_limit);
    for (std::size_t at = start; at < line.size(); ++at)
      if (line[at] == '\n' || line[at] == '\r') line[at] = ' ';
    line += '\n';
    if (!lock_within(trace.lock)) {
      trace.lost.fetch_add(1);  // the next writer to get in notes the loss
      return;
    }
    const std::lock_guard<std::mutex> hold(trace.lock, std::adopt_lock);
    if (trace.file.is_open()) write_locked(trace, line);
  } catch (...) {
    // Out of memory: the line is lost, as an unheard debug line is.
  }
}

void append_trace_event(bool success, std::uint32_t identifier, const char* text) noexcept {
  if (!the_trace_file().open.load(std::memory_order_relaxed)) return;
  try {
    append_trace_file("event " + std::to_string(identifier) + (success ? " success: " : " error: ") +
                      std::string(text));
  } catch (...) {
  }
}
