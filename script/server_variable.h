// Reading one server variable of the request being logged.
#pragma once

#include <cstddef>
#include <string>

#include "platform/web_server.h"

// A value with its NUL must fit in this; a longer one reads as empty.
constexpr std::size_t server_variable_buffer_size = 2048;

// Asks the web server once for `name` into `buffer`; returns the length of the
// value up to its first NUL, 0 when the server refuses. Never reads past the
// buffer, even when the server leaves no NUL in it. Request thread only.
std::size_t read_server_variable(HTTP_FILTER_CONTEXT* filter_context, const char* name,
                                 char (&buffer)[server_variable_buffer_size]) noexcept;

// The value of `name`, or the empty string.
std::string get_server_variable(HTTP_FILTER_CONTEXT* filter_context, const std::string& name);
