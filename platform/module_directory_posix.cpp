#include "platform/module_directory.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {

namespace {

// A relative name is relative to the directory the module was loaded from,
// which is the current one only until the host changes it.
std::string made_absolute(std::string path) {
  if (!path.empty() && path.front() == '/') return path;
  char* current = ::getcwd(nullptr, 0);
  if (current == nullptr) return path;
  std::string absolute(current);
  std::free(current);
  while (path.compare(0, 2, "./") == 0) path.erase(0, 2);
  if (path.empty() || path == ".") return absolute;
  if (absolute.back() != '/') absolute += '/';
  return absolute + path;
}

}  // namespace

std::string module_directory() {
  Dl_info info{};
  // Any symbol of this file names the object it was linked into.
  if (dladdr(reinterpret_cast<void*>(&module_directory), &info) == 0 || info.dli_fname == nullptr)
    return std::string();
  std::string path(info.dli_fname);
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return made_absolute(".");
  if (slash == 0) return std::string("/");
  path.resize(slash);
  return made_absolute(path);
}

const char* path_separator() { return "/"; }

}  // namespace platform
