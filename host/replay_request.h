// One logged request as the web server hands it to a filter: the filter
// context with its GetServerVariable, and the log record.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/log_entry.h"
#include "platform/web_server.h"

// Built on the reading thread, then owned by the request thread that sends it;
// its context and record stay valid and unchanged until it is destroyed.
class replay_request {
 public:
  // Null, with problem set, when a number field holds something else.
  static std::unique_ptr<replay_request> from_entry(const log_entry& entry, std::string& problem);

  replay_request(const replay_request&) = delete;
  replay_request& operator=(const replay_request&) = delete;

  HTTP_FILTER_CONTEXT* context() noexcept { return &context_; }
  HTTP_FILTER_LOG* log() noexcept { return &log_; }

  // The server variable's value, or null when the web server would not know it;
  // a UNICODE_ one in UTF-16LE. Names compare without regard to case, as IIS compares them.
  const std::string* variable(std::string_view name) const noexcept;

 private:
  replay_request();
  void set(std::string name, std::string value);
  void finish();

  std::vector<std::pair<std::string, std::string>> variables_;
  HTTP_FILTER_CONTEXT context_{};
  HTTP_FILTER_LOG log_{};
};

// The filter context's GetServerVariable, as IIS answers it: TRUE and the value
// with its NUL (two for a UNICODE_ one, in UTF-16LE) when it fits *size bytes;
// otherwise FALSE with the last error "buffer too small" and *size set to the
// bytes needed. FALSE with "no such variable" for an unknown one.
BOOL WINAPI replay_get_server_variable(HTTP_FILTER_CONTEXT* context, LPSTR name, LPVOID buffer,
                                       LPDWORD size);

// "cs(User-Agent)" to "HTTP_USER_AGENT"; empty for a field that is no request header.
std::string header_variable_name(std::string_view field);
