// The moment the module is attached to a process: DllMain's process attach on
// Windows, a load-time constructor elsewhere. Built only into the module.
#pragma once

namespace platform {

// Defined by the filter; called once, on the loading thread, before any entry
// point. Must not throw.
void on_library_attach() noexcept;

}  // namespace platform
