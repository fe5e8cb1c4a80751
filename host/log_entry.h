// One request as a log line tells it, whatever the log's format.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Fields under their W3C names in lower case ("c-ip", "cs(user-agent)"), in
// the line's order. An absent value ("-") is left out.
struct log_entry {
  std::vector<std::pair<std::string, std::string>> fields;

  // The value of the named field, or null when the line has none.
  const std::string* find(std::string_view name) const noexcept;
};

// What one line of a log was.
enum class line_kind { request, directive, blank, malformed };

struct line_result {
  line_kind kind = line_kind::blank;
  std::string problem;  // why a malformed line was refused
};

inline line_result request_line() { return {line_kind::request, {}}; }
inline line_result malformed_line(std::string problem) {
  return {line_kind::malformed, std::move(problem)};
}
