// The calling thread's last error: what a web server reads after a refused
// load, and why one of its calls answered FALSE (SetLastError/GetLastError on
// Windows, errno elsewhere, the contract of include/posix/httpfilt.h). Each
// call touches the calling thread's only.
#pragma once

namespace platform {

// Why a load was refused, as far as the system's error codes can say it.
enum class failure_kind {
  invalid_data,      // the settings or the script cannot be used
  out_of_memory,
  module_not_found,  // a library the filter needs (the interpreter) cannot be loaded
  init_failed,       // the script's own initialisation refused or failed
  no_resources,      // the system refused a thread or a semaphore
  busy,              // another load or unload holds the filter
  internal,
};

// Sets the calling thread's last error to the system's code for `kind`:
// SetLastError on Windows, errno elsewhere. Call it last, after anything that
// may change it. Any thread.
void set_last_error(failure_kind kind) noexcept;

// True when the last error says the buffer was too small for the value.
bool last_error_is_buffer_too_small() noexcept;

// For a host answering as the web server does: a buffer too small, and a
// variable the server does not have.
void set_last_error_buffer_too_small() noexcept;
void set_last_error_no_such_variable() noexcept;

}  // namespace platform
