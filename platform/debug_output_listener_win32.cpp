#include "platform/debug_output_listener.h"

#include <windows.h>

#include <cstring>
#include <stdexcept>

namespace platform {

namespace {

// The layout that writers fill: their process id, then the zero-terminated text.
struct shared_buffer {
  DWORD process_id;
  char text[4096 - sizeof(DWORD)];
};

class owned_handle {
 public:
  explicit owned_handle(HANDLE handle) noexcept : handle_(handle) {}
  ~owned_handle() {
    if (handle_ != nullptr) ::CloseHandle(handle_);
  }
  owned_handle(const owned_handle&) = delete;
  owned_handle& operator=(const owned_handle&) = delete;
  HANDLE get() const noexcept { return handle_; }

 private:
  HANDLE handle_;
};

HANDLE create_new_event(const char* name, BOOL initially_set) {
  HANDLE event = ::CreateEventA(nullptr, FALSE, initially_set, name);
  if (event != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(event);
    throw std::runtime_error(std::string("another debug output listener holds ") + name);
  }
  if (event == nullptr) throw std::runtime_error(std::string("cannot create ") + name);
  return event;
}

}  // namespace

struct debug_output_listener::native {
  explicit native(bool taking)
      : mapping(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                     sizeof(shared_buffer), "DBWIN_BUFFER")),
        data_ready(create_new_event("DBWIN_DATA_READY", FALSE)),
        // Set at once when taking: the first writer may fill the buffer.
        buffer_ready(create_new_event("DBWIN_BUFFER_READY", taking ? TRUE : FALSE)),
        view(mapping.get() == nullptr ? nullptr : ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0)) {
    if (view == nullptr) throw std::runtime_error("cannot map DBWIN_BUFFER");
  }
  ~native() { ::UnmapViewOfFile(view); }
  native(const native&) = delete;
  native& operator=(const native&) = delete;

  owned_handle mapping;
  owned_handle data_ready;
  owned_handle buffer_ready;
  void* view;
};

debug_output_listener::debug_output_listener(bool taking) : native_(new native(taking)) {}

void debug_output_listener::begin_taking() { ::SetEvent(native_->buffer_ready.get()); }

debug_output_listener::~debug_output_listener() { delete native_; }

bool debug_output_listener::next_line(std::string& line, std::uint32_t timeout_milliseconds) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_milliseconds;
  for (;;) {
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return false;
    if (::WaitForSingleObject(native_->data_ready.get(), static_cast<DWORD>(deadline - now)) !=
        WAIT_OBJECT_0)
      return false;
    const auto* buffer = static_cast<const shared_buffer*>(native_->view);
    const bool own = buffer->process_id == ::GetCurrentProcessId();
    if (own) line.assign(buffer->text, strnlen(buffer->text, sizeof buffer->text));
    ::SetEvent(native_->buffer_ready.get());
    if (own) return true;
  }
}

}  // namespace platform
