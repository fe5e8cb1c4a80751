#include "platform/debug_output.h"

#include <unistd.h>

#include <cstring>

namespace platform {

void write_debug_output(const char* line) noexcept {
  ssize_t ignored = ::write(STDERR_FILENO, line, std::strlen(line));
  (void)ignored;
}

}  // namespace platform
