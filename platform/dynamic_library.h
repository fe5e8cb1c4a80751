// Loading a module at run time and finding its exported functions.
#pragma once

#include <string>

namespace platform {

// Owns one loaded module; unloading it happens in the destructor. Not copyable.
class dynamic_library {
 public:
  // Loads the module at path, resolving all its symbols now; throws
  // std::runtime_error naming the path and the system's reason on failure.
  explicit dynamic_library(const std::string& path);
  ~dynamic_library();
  dynamic_library(const dynamic_library&) = delete;
  dynamic_library& operator=(const dynamic_library&) = delete;

  // The address of an exported function, or null when it has none by that name.
  void* symbol(const char* name) const noexcept;

 private:
  void* handle_;
};

// The module's file name as the build names it: "quillharbor.so" or "quillharbor.dll".
const char* module_file_name();

}  // namespace platform
