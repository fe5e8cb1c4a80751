#include "platform/temp_directory.h"

#include <windows.h>

#include <stdexcept>
#include <string>

namespace platform {

std::string make_temp_directory(const std::string& prefix) {
  char base[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathA(sizeof base, base);
  if (length == 0 || length > MAX_PATH) throw std::runtime_error("no temporary directory");
  const std::string stem = std::string(base) + prefix + std::to_string(::GetCurrentProcessId()) + "-";
  // CreateDirectoryA fails on an existing name, so the first success is ours alone.
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    const std::string path = stem + std::to_string(::GetTickCount() + attempt);
    if (::CreateDirectoryA(path.c_str(), nullptr)) return path;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  throw std::runtime_error("cannot create a directory in " + std::string(base));
}

}  // namespace platform
