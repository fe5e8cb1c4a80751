#include "platform/executable_directory.h"

#include <unistd.h>

#include <vector>

namespace platform {

std::string executable_directory() {
  std::vector<char> buffer(4096);
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (length <= 0 || static_cast<size_t>(length) >= buffer.size()) return std::string();
  std::string path(buffer.data(), static_cast<size_t>(length));
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace platform
