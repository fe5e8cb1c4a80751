#include "platform/terminal.h"

#include <io.h>
#include <stdio.h>

namespace platform {

bool is_terminal(standard_stream stream) noexcept {
  return ::_isatty(::_fileno(stream == standard_stream::output ? stdout : stderr)) != 0;
}

}  // namespace platform
