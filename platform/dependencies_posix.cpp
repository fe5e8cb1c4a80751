#include "platform/dependencies.h"

namespace platform {

// The dynamic loader bound the interpreter when it loaded the module.
const char* load_dependencies() noexcept { return nullptr; }

}  // namespace platform
