// Where the running module lies on disk.
#pragma once

#include <string>

namespace platform {

// Directory of the file this code was loaded from (the module, or the
// executable when linked statically), without a trailing separator except for
// a root directory; UTF-8 on Windows. Empty when it cannot be found. Any
// thread. A module loaded by a relative path is found from the current
// directory: call it when the library is attached, before the host can change
// directory.
std::string module_directory();

// The separator between a directory and a file name.
const char* path_separator();

}  // namespace platform
