#include "platform/module_directory.h"

#include <dlfcn.h>

namespace platform {

std::string module_directory() {
  Dl_info info{};
  // Any symbol of this file names the object it was linked into.
  if (dladdr(reinterpret_cast<void*>(&module_directory), &info) == 0 || info.dli_fname == nullptr)
    return std::string();
  std::string path(info.dli_fname);
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return std::string(".");
  if (slash == 0) return std::string("/");
  path.resize(slash);
  return path;
}

const char* path_separator() { return "/"; }

}  // namespace platform
