// The moment the module's own directory is fixed: a load-time constructor
// outside Windows, the first GetFilterVersion on Windows (DllMain runs under
// the loader lock, where only kernel32 calls are safe and nothing may
// allocate). Built only into the module.
#pragma once

namespace platform {

// Defined by the filter; called once, before the first load, never under the
// loader lock. Must not throw.
void on_library_attach() noexcept;

// Called at the start of every GetFilterVersion: runs on_library_attach the
// first time where the platform did not at attach. Safe from several threads.
void attach_late() noexcept;

}  // namespace platform
