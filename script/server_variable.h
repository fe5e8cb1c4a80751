// Reading one server variable of the request being logged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/web_server.h"

struct lua_State;

// The first read's buffer: a value that fits it with its NUL costs no allocation.
constexpr std::size_t server_variable_buffer_size = 2048;

// How values that do not fit the first buffer are read, for every request.
// Set at load, before any notification; read by request threads afterwards.
struct variable_reading {
  std::uint32_t limit = 0;  // bytes a second read may take; 0: a longer value reads as ""
  void (*count_over_limit)(void* context) noexcept = nullptr;  // once per value beyond it
  void* context = nullptr;
};
void set_variable_reading(const variable_reading& reading) noexcept;

// One answer of the web server.
struct variable_answer {
  enum kind_t { value, none, larger } kind;
  std::size_t size;  // value: bytes up to its terminator; larger: bytes the server asked for
  std::size_t touched = 0;  // bytes from the buffer's start the server may have written
};

// Names beginning with UNICODE_, in any case, are answered in UTF-16LE.
bool is_wide_variable(const char* name) noexcept;

// The first read's buffer, for one read or several in a row. Each read finds
// no uninitialised byte in it, so that a server that writes less than it
// claims leaves none in a value. It is zeroed whole once, and after a read up
// to the end of the value's terminator or of the size the server gave,
// whichever is further, so that a call reading many names zeroes 2 KiB once,
// not once per name.
class first_read_buffer {
 public:
  first_read_buffer() noexcept;
  first_read_buffer(const first_read_buffer&) = delete;
  first_read_buffer& operator=(const first_read_buffer&) = delete;

  char* bytes() noexcept { return bytes_; }
  static constexpr std::size_t size() noexcept { return server_variable_buffer_size; }
  // Zeroes the first `touched` bytes again after a read.
  void rezero(std::size_t touched) noexcept;

 private:
  char bytes_[server_variable_buffer_size];
};

// Asks once for `name` into `buffer` of `size` bytes, which must be all zero.
// `larger` only for FALSE with the last error "buffer too small" and a size
// above `size`. Never reads past the buffer, even when the server leaves no
// terminator in it. Request thread only.
variable_answer ask_server_variable(HTTP_FILTER_CONTEXT* filter_context, const char* name,
                                    char* buffer, std::size_t size, bool wide) noexcept;

// [] -> [value]: the value of `name` by the reading rules (UTF-8 for a UNICODE_
// name), "" when there is none. Raises Lua memory errors only. `first` may
// serve several calls in a row.
int push_server_variable(lua_State* L, HTTP_FILTER_CONTEXT* filter_context, const char* name);
int push_server_variable(lua_State* L, HTTP_FILTER_CONTEXT* filter_context, const char* name,
                         first_read_buffer& first);

// The same value as a string, or the empty string. May throw std::bad_alloc.
std::string get_server_variable(HTTP_FILTER_CONTEXT* filter_context, const std::string& name);
