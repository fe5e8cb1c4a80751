#include "platform/module_directory.h"

#include <windows.h>
#include <shlwapi.h>

#include "platform/wide_text_win32.h"

namespace platform {

std::string module_directory() {
  HMODULE module = nullptr;
  // Any address of this file names the module it was linked into.
  if (!::GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&module_directory), &module))
    return std::string();
  // The wide name: the ANSI one turns what the code page lacks into '?'.
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
  // A cut name would leave a parent directory that holds some other settings
  // file; no directory at all only means that none is found.
  if (length == 0 || length >= MAX_PATH) return std::string();
  path[length] = L'\0';
  // Leaves "C:\" for a module in a drive's root directory.
  ::PathRemoveFileSpecW(path);
  std::string directory;
  if (!utf16_to_utf8(path, directory)) return std::string();
  return directory;
}

const char* path_separator() { return "\\"; }

}  // namespace platform
