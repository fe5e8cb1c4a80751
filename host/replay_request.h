// One logged request as the web server hands it to a filter: the filter
// context with its GetServerVariable, and the log record.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "host/log_entry.h"
#include "platform/web_server.h"

// Filled on the reading thread, then sent by one request thread; its context
// and record stay valid and unchanged until it is filled again or destroyed.
// Filled again and again, it keeps its memory.
class replay_request {
 public:
  replay_request();  // an empty request, to be filled
  replay_request(const replay_request&) = delete;
  replay_request& operator=(const replay_request&) = delete;

  // Null, with problem set, when a number field holds something else.
  static std::unique_ptr<replay_request> from_entry(const log_entry& entry, std::string& problem);

  // Makes this the entry's request; false, with problem set, when a number
  // field holds something else. Never while it is being sent.
  bool fill(const log_entry& entry, std::string& problem);

  // Once it is sent: a request that held a long line gives that memory back
  // and is empty, so that requests kept to be filled again hold little.
  void release_long_line() noexcept;

  HTTP_FILTER_CONTEXT* context() noexcept { return &context_; }
  HTTP_FILTER_LOG* log() noexcept { return &log_; }

  // The server variable's value, or none when the web server would not know it.
  // Names compare without regard to case, as IIS compares them.
  std::optional<std::string_view> variable(std::string_view name) const noexcept;

  // The variables IIS knows for every request (REMOTE_ADDR, URL, ...).
  static constexpr std::size_t known_count = 12;

 private:
  // A value's place in text_.
  struct piece {
    std::size_t offset = 0;
    std::size_t size = 0;
  };
  struct header {
    piece name;
    piece value;
  };

  void reset_records() noexcept;
  piece append(std::string_view value);
  bool add_header(std::string_view field, std::string_view value);
  std::string_view view(piece p) const noexcept { return std::string_view(text_.data() + p.offset, p.size); }
  const char* c_str(piece p) const noexcept { return text_.c_str() + p.offset; }

  std::string text_;  // a NUL (the empty value at 0), then every value, each with a NUL after it
  std::size_t used_ = 0;  // of text_, which is sized beforehand
  piece known_[known_count];
  std::vector<header> headers_;  // the request headers it carried, first come first
  std::unordered_set<std::string_view> header_names_;  // theirs, once there are many
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
