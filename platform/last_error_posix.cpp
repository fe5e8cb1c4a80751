#include "platform/last_error.h"

#include <cerrno>

namespace platform {

void set_last_error(failure_kind kind) noexcept {
  switch (kind) {
    case failure_kind::invalid_data: errno = EINVAL; return;
    case failure_kind::out_of_memory: errno = ENOMEM; return;
    case failure_kind::module_not_found: errno = ELIBACC; return;
    case failure_kind::init_failed: errno = ECANCELED; return;
    case failure_kind::no_resources: errno = EAGAIN; return;
    case failure_kind::busy: errno = EBUSY; return;
    case failure_kind::internal: errno = ENOTRECOVERABLE; return;
  }
}

bool last_error_is_buffer_too_small() noexcept { return errno == ENOBUFS; }
void set_last_error_buffer_too_small() noexcept { errno = ENOBUFS; }
void set_last_error_no_such_variable() noexcept { errno = ENOENT; }

}  // namespace platform
