#include "platform/debug_output.h"

#include <windows.h>

#include <cstdio>
#include <deque>
#include <new>
#include <string>
#include <utility>

namespace platform {

namespace {

// OutputDebugStringA waits up to 10 s for a listener to free its buffer, under
// a lock that every writer of the session shares: only this thread calls it.

struct queued_line {
  unsigned long lost_before;  // lines dropped just before this one
  std::string text;
};

// One output thread and its queue: the module's while current, its thread's
// own once a stop has given up waiting for it. Fields under `guard`.
struct outlet {
  std::deque<queued_line> queue;
  std::size_t queued_bytes = 0;
  unsigned long lost = 0;  // dropped since the last queued line
  bool stopping = false;   // no more lines come: send the queue, then end
  bool abandoned = false;  // the stop gave up: drop the rest, free itself
  bool finished = false;   // the thread has left its loop
  HANDLE wake = nullptr;   // auto-reset: a line or the stop is there
  HANDLE thread = nullptr;
  // The thread's reference to the module, taken before it starts, so that a
  // host unloading the module while a listener holds the thread does not pull
  // the code from under it. Given back as the thread exits.
  HMODULE pin = nullptr;
};

SRWLOCK guard = SRWLOCK_INIT;
outlet* current = nullptr;  // under guard
bool ever_started = false;  // under guard
int starts = 0;             // loading and unloading thread only

class held {
 public:
  held() noexcept { ::AcquireSRWLockExclusive(&guard); }
  ~held() { ::ReleaseSRWLockExclusive(&guard); }
  held(const held&) = delete;
  held& operator=(const held&) = delete;
};

void send_notice(unsigned long lost) noexcept {
  char notice[80];
  std::snprintf(notice, sizeof notice, "[%lu] %lu trace lines dropped\n",
                static_cast<unsigned long>(::GetCurrentThreadId()), lost);
  ::OutputDebugStringA(notice);
}

void free_outlet(outlet* self) noexcept {
  ::CloseHandle(self->wake);
  delete self;
}

// Sends what is queued, a line at a time with the lock released, until the
// stop has come and the queue is empty, or the stop gave up.
void drain(outlet& self) noexcept {
  for (;;) {
    queued_line next{0, std::string()};
    bool have_line = false;
    unsigned long lost = 0;
    {
      held lock;
      if (self.abandoned) return;
      if (!self.queue.empty()) {
        next = std::move(self.queue.front());
        self.queue.pop_front();
        self.queued_bytes -= next.text.size();
        lost = next.lost_before;
        have_line = true;
      } else if (self.lost != 0) {
        lost = self.lost;
        self.lost = 0;
      } else if (self.stopping) {
        return;
      }
    }
    if (lost != 0) send_notice(lost);
    if (have_line) ::OutputDebugStringA(next.text.c_str());
    if (!have_line && lost == 0) ::WaitForSingleObject(self.wake, INFINITE);
  }
}

DWORD WINAPI run(void* parameter) {
  auto* self = static_cast<outlet*>(parameter);
  const HMODULE pin = self->pin;
  drain(*self);
  bool own = false;
  {
    held lock;
    self->finished = true;
    own = self->abandoned;
  }
  if (own) free_outlet(self);
  if (pin != nullptr) ::FreeLibraryAndExitThread(pin, 0);
  return 0;
}

outlet* start_outlet() noexcept {
  auto* self = new (std::nothrow) outlet;
  if (self == nullptr) return nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&run), &self->pin);
  self->wake = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (self->wake != nullptr) self->thread = ::CreateThread(nullptr, 0, &run, self, 0, nullptr);
  if (self->thread != nullptr) return self;
  if (self->wake != nullptr) ::CloseHandle(self->wake);
  if (self->pin != nullptr) ::FreeLibrary(self->pin);
  delete self;
  return nullptr;
}

}  // namespace

void write_debug_output(const char* line) noexcept {
  std::string text;
  bool copied = true;
  try {
    text = line;
  } catch (...) {
    copied = false;  // counted as dropped
  }
  bool direct = false;
  {
    held lock;
    if (current == nullptr) {
      direct = !ever_started;
    } else if (copied && current->queue.size() < debug_output_queue_lines &&
               current->queued_bytes + text.size() <= debug_output_queue_bytes) {
      try {
        const std::size_t size = text.size();
        current->queue.push_back(queued_line{current->lost, std::move(text)});
        current->queued_bytes += size;
        current->lost = 0;
        ::SetEvent(current->wake);
      } catch (...) {
        ++current->lost;
      }
    } else {
      ++current->lost;
    }
  }
  if (direct) ::OutputDebugStringA(line);
}

void start_debug_output() noexcept {
  if (starts++ > 0) return;
  outlet* started = start_outlet();
  held lock;
  current = started;
  ever_started = true;
}

void stop_debug_output() noexcept {
  if (starts == 0 || --starts > 0) return;
  outlet* self = nullptr;
  {
    held lock;
    self = current;
    current = nullptr;
    if (self == nullptr) return;
    self->stopping = true;
    ::SetEvent(self->wake);
  }
  const HANDLE thread = self->thread;
  bool mine = ::WaitForSingleObject(thread, debug_output_stop_milliseconds) == WAIT_OBJECT_0;
  if (!mine) {
    held lock;
    // Left its loop meanwhile: it is on its way out and leaves the outlet to us.
    mine = self->finished;
    if (!mine) {
      self->abandoned = true;  // from here on the thread frees it
      ::SetEvent(self->wake);
    }
  }
  if (mine) {
    ::WaitForSingleObject(thread, INFINITE);
    free_outlet(self);
  }
  ::CloseHandle(thread);
}

}  // namespace platform
