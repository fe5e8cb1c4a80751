#include "filter/trace_file.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <limits>
#include <mutex>
#include <thread>

#include "filter/diagnostics.h"
#include "filter/text_cut.h"
#include "platform/append_file.h"
#include "platform/clock.h"
#include "platform/thread_id.h"

namespace {

// How long a writer waits for another's write before it drops its line: a
// request thread must not stall behind a slow disk.
constexpr std::chrono::milliseconds longest_wait{100};

// How often a failed rename or a file that cannot be created is tried again.
constexpr std::int64_t retry_every = 1000;

constexpr std::int64_t never_before = std::numeric_limits<std::int64_t>::min();

struct trace_file {
  std::atomic<bool> open{false};  // read without the lock: no file, no cost
  std::mutex lock;                // around the file and the fields below
  platform::append_file real_file;
  platform::append_target* file = &real_file;
  std::string path;
  std::int64_t max_size = 0;
  std::int64_t size = 0;
  std::int64_t retry_interval = 0;
  std::int64_t next_try = never_before;  // steady ms; no rename or reopen before
  bool torn = false;                     // the file ends in a line cut short
  bool loss_said = false;                // the outlets were told the file is gone
  std::atomic<std::uint64_t> lost{0};    // lines dropped since the last one written
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

// "<UTC time> [<thread id>] <text>\n", the text cleaned as append_trace_file says.
std::string stamped(std::string_view text) {
  std::string line = utc_stamp(platform::utc_milliseconds());
  line += " [";
  line += std::to_string(platform::current_thread_id());
  line += "] ";
  const std::size_t start = line.size();
  line += cut_text(text.substr(0, text.find('\0')), outlet_limit);
  for (std::size_t at = start; at < line.size(); ++at)
    if (line[at] == '\n' || line[at] == '\r') line[at] = ' ';
  line += '\n';
  return line;
}

// Under the lock: true when all of `bytes` went out. The size counts what
// did; a part of a line marks the file torn.
bool put(trace_file& trace, const std::string& bytes) {
  const std::size_t done = trace.file->write(bytes.data(), bytes.size());
  trace.size += static_cast<std::int64_t>(done);
  if (done == bytes.size()) return true;
  if (done > 0) trace.torn = true;
  return false;
}

// Under the lock: whether a rename or reopen may be tried now; a try holds
// the next one off for the retry interval.
bool may_try(trace_file& trace) {
  const std::int64_t now = platform::steady_milliseconds();
  if (now < trace.next_try) return false;
  trace.next_try = now + trace.retry_interval;
  return true;
}

// Under the lock: (re)creates the file at its path.
bool reopen(trace_file& trace) {
  if (!trace.file->open(trace.path)) return false;
  trace.size = trace.file->size();
  trace.torn = false;
  trace.loss_said = false;
  trace.next_try = never_before;
  return true;
}

// Under the lock: renames the full file away and starts a new one. The file
// is renamed while open, so that a rename refused leaves it in use.
bool rotate(trace_file& trace) {
  if (trace.torn && put(trace, "\n")) trace.torn = false;
  if (!trace.file->replace(trace.path, trace.path + ".1")) return false;
  return reopen(trace);  // closes the renamed file first
}

// Under the lock: whether `need` more bytes may go into the file, rotating it
// first when it is full. It never grows past the file-size limit, and past
// max_size only by the line that reached it.
bool room_for(trace_file& trace, std::int64_t need) {
  const std::int64_t limit = trace.file->size_limit();
  const bool full = (trace.max_size > 0 && trace.size >= trace.max_size) || trace.size + need > limit;
  if (!full) return true;
  // Not even a new file could take it: no rotation for it.
  if (need > limit) return false;
  if (!may_try(trace) || !rotate(trace)) return false;
  return trace.size + need <= limit;
}

// Under the lock: writes the note of lines lost, then `line` unless
// `note_only`. True when all of it reached the file.
bool write_locked(trace_file& trace, const std::string& line, bool note_only) {
  if (!trace.file->is_open() && !(may_try(trace) && reopen(trace))) return false;
  const std::uint64_t lost = trace.lost.exchange(0);
  // Stamped and attributed as the line that notices it.
  const std::string note =
      lost == 0 ? std::string()
                : line.substr(0, line.find(']') + 2) + std::to_string(lost) + " trace lines lost\n";
  const std::size_t line_size = note_only ? 0 : line.size();
  const auto need = static_cast<std::int64_t>((trace.torn ? 1 : 0) + note.size() + line_size);
  // A line cut short is ended first: the file holds only whole lines.
  if (!room_for(trace, need) || (trace.torn && !put(trace, "\n")) ||
      (!note.empty() && !put(trace, note))) {
    trace.lost.fetch_add(lost);
    return false;
  }
  trace.torn = false;
  if (!note_only && !put(trace, line)) return false;
  if (trace.max_size > 0 && trace.size >= trace.max_size && may_try(trace)) rotate(trace);
  return true;
}

// Says once, on both outlets, that the file is gone; outside the lock, as the
// outlets write to the file too.
void say_lost(const std::string& path) noexcept {
  try {
    const std::string text = "quillharbor lost the trace file (" + path +
                             "): its lines are counted until it can be created again";
    debug_trace(text);
    report_event(event_error, event_trace_file, text.c_str());
  } catch (...) {
  }
}

// Under the lock: whether the file's loss is new and must be said.
bool loss_to_say(trace_file& trace) {
  if (trace.file->is_open() || trace.loss_said) return false;
  trace.loss_said = true;
  return true;
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
  return open_trace_file_on(trace.real_file, path, max_size, retry_every);
}

bool open_trace_file_on(platform::append_target& file, const std::string& path,
                        std::int64_t max_size, std::int64_t retry_after) noexcept {
  trace_file& trace = the_trace_file();
  std::lock_guard<std::mutex> hold(trace.lock);
  trace.open.store(false);
  trace.file->close();
  trace.file = &file;
  try {
    trace.path = path;
  } catch (...) {
    trace.file = &trace.real_file;
    return false;
  }
  if (!reopen(trace)) {
    trace.file = &trace.real_file;  // the caller's file is not kept
    return false;
  }
  trace.max_size = max_size;
  trace.retry_interval = retry_after;
  trace.lost.store(0);
  trace.open.store(true);
  return true;
}

void close_trace_file() noexcept {
  trace_file& trace = the_trace_file();
  std::lock_guard<std::mutex> hold(trace.lock);
  trace.open.store(false);
  trace.file->close();
  trace.file = &trace.real_file;
}

void append_trace_file(std::string_view text) noexcept {
  trace_file& trace = the_trace_file();
  if (!trace.open.load(std::memory_order_relaxed)) return;
  try {
    // Composed before the lock, so that writers wait only for each other's write.
    const std::string line = stamped(text);
    if (!lock_within(trace.lock)) {
      trace.lost.fetch_add(1);  // the next writer to get in notes the loss
      return;
    }
    std::string gone;  // the path of a file just lost
    {
      const std::lock_guard<std::mutex> hold(trace.lock, std::adopt_lock);
      if (!trace.open.load()) return;
      if (!write_locked(trace, line, false)) trace.lost.fetch_add(1);
      if (loss_to_say(trace)) gone = trace.path;
    }
    if (!gone.empty()) say_lost(gone);
  } catch (...) {
    // Out of memory: the line is lost, as an unheard debug line is.
  }
}

std::uint64_t settle_trace_losses() noexcept {
  trace_file& trace = the_trace_file();
  if (trace.lost.load() == 0) return 0;
  try {
    const std::string prefix = stamped("");
    const std::lock_guard<std::mutex> hold(trace.lock);
    if (trace.open.load()) write_locked(trace, prefix, true);
  } catch (...) {
  }
  return trace.lost.load();
}

void append_trace_event(bool success, std::uint32_t identifier, const char* text) noexcept {
  if (!the_trace_file().open.load(std::memory_order_relaxed)) return;
  try {
    append_trace_file("event " + std::to_string(identifier) + (success ? " success: " : " error: ") +
                      std::string(text));
  } catch (...) {
  }
}
