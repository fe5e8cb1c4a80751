#include "platform/event_log.h"

#include <windows.h>

namespace platform {

void write_event_log(std::uint16_t type, std::uint32_t identifier, const char* text) noexcept {
  // Opened and closed for every entry. A source that did not open makes the
  // report and the close fail quietly: the event log reports nothing of itself.
  HANDLE source = ::RegisterEventSourceA(nullptr, "quillharbor");
  const char* strings[] = {text};
  ::ReportEventA(source, type, 0, identifier, nullptr, 1, 0, strings, nullptr);
  ::DeregisterEventSource(source);
}

// Entries go to the event log only.
void set_event_log_socket(const char*) noexcept {}

}  // namespace platform
