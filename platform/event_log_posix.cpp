#include "platform/event_log.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/debug_output.h"

namespace platform {

namespace {

constexpr int facility_user = 1 << 3;  // LOG_USER
constexpr int severity_error = 3;      // LOG_ERR
constexpr int severity_info = 6;       // LOG_INFO

std::atomic<const char*> syslog_socket{"/dev/log"};

// "<priority>Mmm dd hh:mm:ss quillharbor[pid]: text", as the C library's
// syslog sends it; the month in English whatever the host's locale.
std::string syslog_message(int priority, const std::string& text) {
  static const char months[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char header[64];
  std::snprintf(header, sizeof header, "<%d>%s %2d %02d:%02d:%02d quillharbor[%ld]: ", priority,
                months[local.tm_mon % 12], local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<long>(::getpid()));
  return header + text;
}

// One datagram on a socket of our own, so the host's openlog state (ident,
// options, facility) stays as the host set it. Never blocks; a missing or
// full syslog socket loses the entry silently.
void send_to_syslog(const std::string& message) noexcept {
  const char* path = syslog_socket.load();
  sockaddr_un address{};
  if (std::strlen(path) >= sizeof address.sun_path) return;
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path);
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  const ssize_t ignored = ::sendto(fd, message.data(), message.size(), MSG_NOSIGNAL,
                                   reinterpret_cast<const sockaddr*>(&address), sizeof address);
  (void)ignored;
  ::close(fd);
}

}  // namespace

void set_event_log_socket(const char* path) noexcept {
  syslog_socket.store(path != nullptr ? path : "/dev/log");
}

void write_event_log(std::uint16_t type, std::uint32_t identifier, const char* text) noexcept {
  const bool success = type == 0;
  try {
    std::string entry = "event ";
    entry += std::to_string(identifier);
    entry += success ? " success: " : " error: ";
    entry += text;
    send_to_syslog(syslog_message(facility_user | (success ? severity_info : severity_error), entry));

    // The trace outlet's way: never waits for standard error; an entry it
    // cannot take now is counted among the dropped lines it reports next.
    const std::string line = "quillharbor " + entry + '\n';
    write_debug_output(line.c_str());
  } catch (...) {
    // The event log reports no failure of its own.
  }
}

}  // namespace platform
