#include "platform/terminal.h"

#include <unistd.h>

namespace platform {

bool is_terminal(standard_stream stream) noexcept {
  return ::isatty(stream == standard_stream::output ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

}  // namespace platform
