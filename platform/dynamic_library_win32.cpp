#include "platform/dynamic_library.h"

#include <windows.h>

#include <stdexcept>

namespace platform {

dynamic_library::dynamic_library(const std::string& path)
    : handle_(reinterpret_cast<void*>(::LoadLibraryA(path.c_str()))) {
  if (handle_ == nullptr)
    throw std::runtime_error("cannot load " + path + ": error " + std::to_string(::GetLastError()));
}

dynamic_library::~dynamic_library() { ::FreeLibrary(reinterpret_cast<HMODULE>(handle_)); }

void* dynamic_library::symbol(const char* name) const noexcept {
  return reinterpret_cast<void*>(::GetProcAddress(reinterpret_cast<HMODULE>(handle_), name));
}

const char* module_file_name() { return "quillharbor.dll"; }

}  // namespace platform
