#include "platform/executable_directory.h"

#include <windows.h>

#include <vector>

namespace platform {

std::string executable_directory() {
  std::vector<char> buffer(32768);
  const DWORD length = ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length == 0 || length >= buffer.size()) return std::string();
  std::string path(buffer.data(), length);
  const auto separator = path.find_last_of("\\/");
  if (separator == std::string::npos) return std::string();
  return path.substr(0, separator);
}

}  // namespace platform
