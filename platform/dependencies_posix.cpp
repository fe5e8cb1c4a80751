#include "platform/dependencies.h"

#include <dlfcn.h>

#include <lua.hpp>

namespace platform {

// The dynamic loader bound the interpreter when it loaded the module, but only
// in the module's own scope when the host loaded it RTLD_LOCAL. Lua C modules
// (socket.core, ...) are built without a link to the interpreter and expect its
// symbols in the global scope: the library is promoted there. The reference
// taken is kept for the process. A failure leaves C modules unloadable, which
// `require` then reports to the script; the filter itself needs nothing more.
const char* load_dependencies() noexcept {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&lua_gettop), &info) != 0 && info.dli_fname != nullptr)
    ::dlopen(info.dli_fname, RTLD_NOW | RTLD_GLOBAL | RTLD_NOLOAD);
  return nullptr;
}

}  // namespace platform
