// The module's message table, read as Event Viewer reads it: by the entry's
// identifier with its severity bits, the entry's text inserted for %1.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/event_log_win32.h"

namespace {

struct written_entry {
  std::uint16_t type;
  std::uint32_t identifier;
  std::uint32_t as_written;  // with the severity bits
};

// Every identifier that the filter writes, under the type it writes it with.
const written_entry entries[] = {
    {EVENTLOG_SUCCESS, 1, 0x00000001},      // loaded
    {EVENTLOG_ERROR_TYPE, 1, 0xC0000001},   // the failures of the load, by code
    {EVENTLOG_ERROR_TYPE, 2, 0xC0000002},   {EVENTLOG_ERROR_TYPE, 3, 0xC0000003},
    {EVENTLOG_ERROR_TYPE, 4, 0xC0000004},   {EVENTLOG_ERROR_TYPE, 5, 0xC0000005},
    {EVENTLOG_ERROR_TYPE, 6, 0xC0000006},   {EVENTLOG_ERROR_TYPE, 7, 0xC0000007},
    {EVENTLOG_ERROR_TYPE, 8, 0xC0000008},   {EVENTLOG_ERROR_TYPE, 9, 0xC0000009},
    {EVENTLOG_ERROR_TYPE, 10, 0xC000000A},  {EVENTLOG_ERROR_TYPE, 11, 0xC000000B},
    {EVENTLOG_ERROR_TYPE, 12, 0xC000000C},  {EVENTLOG_ERROR_TYPE, 13, 0xC000000D},
    {EVENTLOG_ERROR_TYPE, 14, 0xC000000E},
    {EVENTLOG_ERROR_TYPE, 20, 0xC0000014},  // the trace file cannot be opened
};

TEST(event_messages, every_identifier_shows_its_text_as_written) {
  const HMODULE module = ::LoadLibraryExA(QUILLHARBOR_MODULE_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  // Percent signs of a URL and of a format: inserted once, never expanded.
  const std::wstring text = L"skr\u00edpt.lua: /a%20b %1 %%1 50%";
  for (const written_entry& entry : entries) {
    SCOPED_TRACE(entry.identifier);
    const std::uint32_t identifier = platform::message_identifier(entry.type, entry.identifier);
    EXPECT_EQ(identifier, entry.as_written);
    DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(text.c_str())};
    wchar_t shown[256] = {};
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module,
                                          identifier, 0, shown, 256, reinterpret_cast<va_list*>(arguments));
    EXPECT_EQ(std::wstring(shown, length), text) << "error " << ::GetLastError();
  }
  ::FreeLibrary(module);
}

}  // namespace
