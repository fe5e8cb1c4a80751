#include "platform/module_directory.h"

#include <windows.h>
#include <shlwapi.h>

namespace platform {

std::string module_directory() {
  HMODULE module = nullptr;
  // Any address of this file names the module it was linked into.
  if (!::GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&module_directory), &module))
    return std::string();
  char path[MAX_PATH + 1] = {};
  const DWORD length = ::GetModuleFileNameA(module, path, MAX_PATH);
  // A cut name would leave a parent directory that holds some other settings
  // file; no directory at all only means that none is found.
  if (length == 0 || length >= MAX_PATH) return std::string();
  path[length] = '\0';
  // Leaves "C:\" for a module in a drive's root directory.
  ::PathRemoveFileSpecA(path);
  return std::string(path);
}

const char* path_separator() { return "\\"; }

}  // namespace platform
