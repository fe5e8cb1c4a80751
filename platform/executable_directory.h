// Where the running program lies on disk.
#pragma once

#include <string>

namespace platform {

// Directory of the running executable, without a trailing separator; empty
// when it cannot be found.
std::string executable_directory();

}  // namespace platform
