// The three functions the web server calls, and the outlet hook for hosts.
#include "platform/web_server.h"

#include "filter/diagnostics.h"
#include "filter/load_filter.h"
#include "platform/library_attach.h"
#include "platform/module_directory.h"
#include "settings/settings_path.h"

filter_state& the_filter() {
  static filter_state filter;
  return filter;
}

void platform::on_library_attach() noexcept {
  try {
    set_settings_path(platform::module_directory());
  } catch (...) {
    // No settings path: the load then fails with a syntax event.
  }
}

extern "C" {

QUILLHARBOR_EXPORT BOOL WINAPI GetFilterVersion(HTTP_FILTER_VERSION* version) {
  platform::attach_late();
  return load_filter(the_filter(), version);
}

QUILLHARBOR_EXPORT DWORD WINAPI HttpFilterProc(HTTP_FILTER_CONTEXT* context,
                                               DWORD notification_type, void* notification) {
  return handle_notification(the_filter(), context, notification_type, notification);
}

QUILLHARBOR_EXPORT BOOL WINAPI TerminateFilter(DWORD /*flags*/) {
  return unload_filter(the_filter());
}

QUILLHARBOR_EXPORT void QUILLHARBOR_CALL quillharbor_set_outlets(quillharbor_event_outlet event,
                                                                 quillharbor_trace_outlet trace,
                                                                 void* context) {
  set_outlets(event, trace, context);
}

}  // extern "C"
