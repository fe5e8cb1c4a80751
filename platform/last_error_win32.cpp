#include "platform/last_error.h"

#include <windows.h>

namespace platform {

bool last_error_is_buffer_too_small() noexcept { return GetLastError() == ERROR_INSUFFICIENT_BUFFER; }
void set_last_error_buffer_too_small() noexcept { SetLastError(ERROR_INSUFFICIENT_BUFFER); }
// What IIS leaves for a variable it does not know.
void set_last_error_no_such_variable() noexcept { SetLastError(ERROR_INVALID_INDEX); }

}  // namespace platform
