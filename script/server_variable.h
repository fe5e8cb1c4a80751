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
};

// Names beginning with UNICODE_, in any case, are answered in UTF-16LE.
bool is_wide_variable(const char* name) noexcept;

// Asks once for `name` into `buffer` of `size` bytes, zeroed first. `larger`
// only for FALSE with the last error "buffer too small" and a size above
// `size`. Never reads past the buffer, even when the server leaves no
// terminator in it. Request thread only.
variable_answer ask_server_variable(HTTP_FILTER_CONTEXT* filter_context, const char* name,
                                    char* buffer, std::size_t size, bool wide) noexcept;

// [] -> [value]: the value of `name` by the reading rules (UTF-8 for a UNICODE_
// name), "" when there is none. Raises Lua memory errors only.
int push_server_variable(lua_State* L, HTTP_FILTER_CONTEXT* filter_context, const char* name);

// The same value as a string, or the empty string. May throw std::bad_alloc.
std::string get_server_variable(HTTP_FILTER_CONTEXT* filter_context, const std::string& name);
