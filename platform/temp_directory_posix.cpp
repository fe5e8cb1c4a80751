#include "platform/temp_directory.h"

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace platform {

std::string make_temp_directory(const std::string& prefix) {
  std::error_code ignored;
  std::string base = std::filesystem::temp_directory_path(ignored).string();
  if (base.empty()) base = "/tmp";
  const std::string pattern = base + "/" + prefix + "XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (::mkdtemp(name.data()) == nullptr)
    throw std::runtime_error("cannot create a directory in " + base + ": " + std::strerror(errno));
  return std::string(name.data());
}

}  // namespace platform
