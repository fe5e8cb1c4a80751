// The reason a web-server call answered FALSE, as the server leaves it on the
// calling thread: the thread's last error on Windows, errno elsewhere (the
// contract of include/posix/httpfilt.h). Each call touches the calling thread's only.
#pragma once

namespace platform {

// True when the last error says the buffer was too small for the value.
bool last_error_is_buffer_too_small() noexcept;

// For a host answering as the web server does: a buffer too small, and a
// variable the server does not have.
void set_last_error_buffer_too_small() noexcept;
void set_last_error_no_such_variable() noexcept;

}  // namespace platform
