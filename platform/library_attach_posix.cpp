#include "platform/library_attach.h"

namespace {

// Runs when the dynamic loader maps the module, as DllMain's process attach does.
__attribute__((constructor)) void attach_to_process() { platform::on_library_attach(); }

}  // namespace
