#include "platform/last_error.h"

#include <cerrno>

namespace platform {

bool last_error_is_buffer_too_small() noexcept { return errno == ENOBUFS; }
void set_last_error_buffer_too_small() noexcept { errno = ENOBUFS; }
void set_last_error_no_such_variable() noexcept { errno = ENOENT; }

}  // namespace platform
