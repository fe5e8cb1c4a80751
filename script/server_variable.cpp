#include "script/server_variable.h"

#include <cstring>

std::size_t read_server_variable(HTTP_FILTER_CONTEXT* filter_context, const char* name,
                                 char (&buffer)[server_variable_buffer_size]) noexcept {
  if (filter_context == nullptr || filter_context->GetServerVariable == nullptr) return 0;
  // Zeroed, so that a server that writes less than it claims leaves no
  // uninitialised bytes in the value.
  std::memset(buffer, 0, sizeof buffer);
  DWORD size = static_cast<DWORD>(sizeof buffer);
  // The interface takes the name as LPSTR; the server does not write to it.
  if (!filter_context->GetServerVariable(filter_context, const_cast<char*>(name), buffer, &size))
    return 0;
  const void* nul = std::memchr(buffer, 0, sizeof buffer);
  return nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - buffer)
                        : sizeof buffer;
}

std::string get_server_variable(HTTP_FILTER_CONTEXT* filter_context, const std::string& name) {
  char buffer[server_variable_buffer_size];
  const std::size_t length = read_server_variable(filter_context, name.c_str(), buffer);
  return std::string(buffer, length);
}
