#include "platform/dependencies.h"

#include <windows.h>

#include <string>

#include "platform/module_directory.h"
#include "platform/wide_text_win32.h"

namespace platform {

namespace {

constexpr char lua_library[] = "lua51.dll";

// The file beside the module, or false when its directory is unknown.
bool load_beside_module() noexcept {
  try {
    std::string path = module_directory();
    if (path.empty()) return false;
    if (path.back() != '\\') path += '\\';  // a drive's root keeps its own
    path += lua_library;
    // The directory comes as UTF-8; the ANSI call would name another file.
    std::wstring wide_path;
    if (!utf8_to_utf16(path, wide_path)) return false;
    // Its own imports are then looked for beside it as well.
    return ::LoadLibraryExW(wide_path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH) != nullptr;
  } catch (...) {
    return false;  // out of memory for the path: the system's search may still find it
  }
}

}  // namespace

// The reference taken here is never given back: the delay-load helper binds the
// module's imports to this library by name and keeps it for the process anyway.
const char* load_dependencies() noexcept {
  // Already in the process (an earlier load, or a host that uses Lua itself):
  // the delay-load helper binds to that one.
  if (::GetModuleHandleA(lua_library) != nullptr) return nullptr;
  if (load_beside_module()) return nullptr;
  // An administrator may have put it in inetsrv, a system directory or on PATH.
  if (::LoadLibraryA(lua_library) != nullptr) return nullptr;
  return lua_library;
}

}  // namespace platform
