#include "platform/library_attach.h"

// DllMain does nothing under the loader lock: the module's file name is an
// absolute path, so it is as good at the first load as at attach.
void platform::attach_late() noexcept {
  static const bool attached = (on_library_attach(), true);  // once, thread-safe
  (void)attached;
}
