#include "platform/event_log.h"

#include <syslog.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace platform {

void write_event_log(std::uint16_t type, std::uint32_t identifier, const char* text) noexcept {
  const bool success = type == 0;
  // Opened and closed for every entry, as the Windows event source is.
  openlog("quillharbor", LOG_NDELAY, LOG_USER);
  syslog(success ? LOG_INFO : LOG_ERR, "event %u %s: %s", identifier, success ? "success" : "error",
         text);
  closelog();
  try {
    std::string line = "quillharbor event ";
    line += std::to_string(identifier);
    line += success ? " success: " : " error: ";
    line += text;
    line += '\n';
    ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;
  } catch (...) {
    // The event log reports no failure of its own.
  }
}

}  // namespace platform
