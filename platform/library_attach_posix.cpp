#include "platform/library_attach.h"

namespace {

// Runs when the dynamic loader maps the module, before a host that loaded it
// by a relative path can change directory.
__attribute__((constructor)) void attach_to_process() { platform::on_library_attach(); }

}  // namespace

void platform::attach_late() noexcept {}
