#include "platform/debug_output.h"

#include <windows.h>

namespace platform {

void write_debug_output(const char* line) noexcept { ::OutputDebugStringA(line); }

}  // namespace platform
