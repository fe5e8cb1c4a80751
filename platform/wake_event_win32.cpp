#include "platform/wake_event.h"

#include <windows.h>

#include <stdexcept>

namespace platform {

struct wake_event::native {
  HANDLE event;  // manual reset: once set, it stays set
};

wake_event::wake_event() : native_(new native{CreateEventA(nullptr, TRUE, FALSE, nullptr)}) {
  if (native_->event == nullptr) {
    delete native_;
    throw std::runtime_error("wake_event");
  }
}

wake_event::~wake_event() {
  CloseHandle(native_->event);
  delete native_;
}

bool wake_event::wait_for(std::uint32_t milliseconds) noexcept {
  // INFINITE is all ones: a pause of that length waits a millisecond less.
  if (milliseconds == INFINITE) --milliseconds;
  return WaitForSingleObject(native_->event, milliseconds) == WAIT_OBJECT_0;
}

void wake_event::set() noexcept { SetEvent(native_->event); }

}  // namespace platform
