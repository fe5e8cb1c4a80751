// A module that reports where it was loaded from, for the module directory tests.
#include <cstddef>
#include <cstring>
#include <string>

#include "platform/module_directory.h"

// Copies the module's directory, cut to fit and always terminated, into `out`.
extern "C" __declspec(dllexport) void quillharbor_probe_module_directory(char* out, std::size_t size) {
  const std::string directory = platform::module_directory();
  const std::size_t length = directory.size() < size ? directory.size() : size - 1;
  std::memcpy(out, directory.data(), length);
  out[length] = '\0';
}
