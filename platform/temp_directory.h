// Private scratch directories.
#pragma once

#include <string>

namespace platform {

// Creates a new, empty directory with a unique name under the system's
// temporary directory, readable only by this user where the system allows;
// returns its path. Throws std::runtime_error when none can be made.
std::string make_temp_directory(const std::string& prefix);

}  // namespace platform
