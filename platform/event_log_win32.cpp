#include "platform/event_log.h"
#include "platform/event_log_win32.h"

#include <windows.h>

#include <string>

namespace platform {

// Event Viewer finds an entry's text by the identifier with these bits.
std::uint32_t message_identifier(std::uint16_t type, std::uint32_t identifier) noexcept {
  if ((identifier >> 30) != 0) return identifier;
  switch (type) {
    case EVENTLOG_ERROR_TYPE:
      return identifier | 0xC0000000u;
    case EVENTLOG_WARNING_TYPE:
      return identifier | 0x80000000u;
    case EVENTLOG_INFORMATION_TYPE:
      return identifier | 0x40000000u;
    default:
      return identifier;
  }
}

namespace {

// The texts are UTF-8; what is not valid UTF-8 shows as U+FFFD rather than
// losing the entry.
std::wstring wide(const char* text) {
  std::wstring result;
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  if (length <= 1) return result;
  result.resize(static_cast<std::size_t>(length));
  ::MultiByteToWideChar(CP_UTF8, 0, text, -1, &result[0], length);
  result.resize(static_cast<std::size_t>(length - 1));
  return result;
}

}  // namespace

void write_event_log(std::uint16_t type, std::uint32_t identifier, const char* text) noexcept {
  std::wstring converted;
  try {
    converted = wide(text);
  } catch (...) {
    converted.clear();  // no memory for the text: the entry still tells its identifier
  }
  // Opened and closed for every entry. A source that did not open makes the
  // report and the close fail quietly: the event log reports nothing of itself.
  // The text is an insertion string, never a format: a "%1" or "%20" in it
  // shows as written.
  HANDLE source = ::RegisterEventSourceW(nullptr, L"quillharbor");
  const wchar_t* strings[] = {converted.c_str()};
  ::ReportEventW(source, type, 0, message_identifier(type, identifier), nullptr, 1, 0, strings, nullptr);
  ::DeregisterEventSource(source);
}

// Entries go to the event log only.
void set_event_log_socket(const char*) noexcept {}

}  // namespace platform
