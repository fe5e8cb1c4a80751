#include "platform/debug_output.h"

#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/thread_id.h"

namespace platform {

namespace {

using clock_type = std::chrono::steady_clock;

// The longest a line that has begun may take to finish: a reader that takes
// nothing for that long is taken as gone.
constexpr std::chrono::milliseconds finish_limit(1000);

// One process-wide lock keeps lines whole against each other; a line that
// cannot go out now is counted instead of waited for. A holder keeps it at
// most finish_limit per line, so waiting for it is bounded too.
std::mutex outlet_lock;
std::atomic<unsigned long> dropped{0};  // lines lost since the last notice
bool line_left_open = false;            // under outlet_lock: a line stopped mid-way

// Waits until standard error takes more, up to `deadline`; zero wait when the
// deadline has passed. False when it will not (full, closed, or no reader).
bool writable_by(clock_type::time_point deadline) noexcept {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now());
    pollfd target{STDERR_FILENO, POLLOUT, 0};
    const int ready = ::poll(&target, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (ready > 0) return (target.revents & (POLLERR | POLLHUP | POLLNVAL)) == 0;
    if (ready == 0 || errno != EINTR) return false;
  }
}

// Writes all of [text, text + size). The first piece goes out only if standard
// error takes it now; once some of it is out, the rest is given until
// `finish_by`. Each piece is at most PIPE_BUF bytes, which a pipe that polled
// writable takes whole, so no write blocks. Returns the bytes written.
std::size_t write_now(const char* text, std::size_t size, clock_type::time_point finish_by) noexcept {
  std::size_t written = 0;
  while (written < size) {
    if (!writable_by(written == 0 ? clock_type::time_point{} : finish_by)) break;
    const std::size_t piece = size - written < PIPE_BUF ? size - written : PIPE_BUF;
    const ssize_t n = ::write(STDERR_FILENO, text + written, piece);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  return written;
}

// Writes one line; false when it did not go out whole: nothing of it when it
// could not start now, or a part when the reader stopped taking it, in which
// case the next line that goes out first ends the cut one.
bool write_line(const char* line, std::size_t size) noexcept {
  if (line_left_open) {
    if (write_now("\n", 1, clock_type::time_point{}) != 1) return false;
    line_left_open = false;
  }
  const std::size_t written = write_now(line, size, clock_type::now() + finish_limit);
  if (written == 0) return false;
  line_left_open = written < size;
  return written == size;
}

}  // namespace

void write_debug_output(const char* line) noexcept {
  const std::size_t size = std::strlen(line);
  std::lock_guard<std::mutex> held(outlet_lock);
  if (const unsigned long lost = dropped.exchange(0)) {
    char notice[64];
    const int length = std::snprintf(notice, sizeof notice, "[%lu] %lu trace lines dropped\n",
                                     static_cast<unsigned long>(current_thread_id()), lost);
    if (length <= 0 || !write_line(notice, static_cast<std::size_t>(length))) {
      dropped += lost + 1;
      return;
    }
  }
  if (!write_line(line, size)) ++dropped;
}

// Its writers never wait: there is no thread to start.
void start_debug_output() noexcept {}
void stop_debug_output() noexcept {}

}  // namespace platform
