#include "platform/last_error.h"

#include <windows.h>

namespace platform {

void set_last_error(failure_kind kind) noexcept {
  switch (kind) {
    case failure_kind::invalid_data: ::SetLastError(ERROR_INVALID_DATA); return;
    case failure_kind::out_of_memory: ::SetLastError(ERROR_NOT_ENOUGH_MEMORY); return;
    case failure_kind::module_not_found: ::SetLastError(ERROR_MOD_NOT_FOUND); return;
    case failure_kind::init_failed: ::SetLastError(ERROR_DLL_INIT_FAILED); return;
    case failure_kind::no_resources: ::SetLastError(ERROR_NO_SYSTEM_RESOURCES); return;
    case failure_kind::busy: ::SetLastError(ERROR_BUSY); return;
    case failure_kind::internal: ::SetLastError(ERROR_INTERNAL_ERROR); return;
  }
}

bool last_error_is_buffer_too_small() noexcept { return GetLastError() == ERROR_INSUFFICIENT_BUFFER; }
void set_last_error_buffer_too_small() noexcept { SetLastError(ERROR_INSUFFICIENT_BUFFER); }
// What IIS leaves for a variable it does not know.
void set_last_error_no_such_variable() noexcept { SetLastError(ERROR_INVALID_INDEX); }

}  // namespace platform
