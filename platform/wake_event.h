// A one-way signal that a timed wait can be cut short by.
#pragma once

#include <cstdint>

namespace platform {

// Starts clear; set() raises it for good. Any thread may wait and set.
class wake_event {
 public:
  // Throws std::bad_alloc, or std::runtime_error when the system refuses.
  wake_event();
  ~wake_event();
  wake_event(const wake_event&) = delete;
  wake_event& operator=(const wake_event&) = delete;

  // Waits up to `milliseconds`; true at once, or as soon as, the event is set.
  bool wait_for(std::uint32_t milliseconds) noexcept;
  void set() noexcept;

 private:
  struct native;
  native* native_;
};

}  // namespace platform
