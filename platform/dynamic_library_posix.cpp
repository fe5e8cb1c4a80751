#include "platform/dynamic_library.h"

#include <dlfcn.h>

#include <stdexcept>

namespace platform {

dynamic_library::dynamic_library(const std::string& path)
    : handle_(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
  if (handle_ == nullptr) {
    const char* reason = ::dlerror();
    throw std::runtime_error("cannot load " + path + ": " + (reason ? reason : "unknown error"));
  }
}

dynamic_library::~dynamic_library() { ::dlclose(handle_); }

void* dynamic_library::symbol(const char* name) const noexcept { return ::dlsym(handle_, name); }

const char* module_file_name() { return "quillharbor.so"; }

}  // namespace platform
