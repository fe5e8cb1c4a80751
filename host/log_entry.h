// One request as a log line tells it, whatever the log's format.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

// A field under its W3C name in lower case ("c-ip", "cs(user-agent)").
struct log_field {
  std::string_view name;
  std::string_view value;
};

// The fields of one line, in the line's order; an absent value ("-") is left
// out. The views point into the parser's or the entry's own text and stay
// valid until the entry or its parser reads the next line.
struct log_entry {
  std::vector<log_field> fields;
  std::deque<std::string> made;  // values a parser had to make rather than cut out of the line

  // The value of the named field, or null when the line has none.
  const std::string_view* find(std::string_view name) const noexcept;

  // Empties it for the next line; the memory is kept.
  void clear() noexcept;

  // Adds a field whose value the entry keeps a copy of.
  void add_copy(std::string_view name, std::string_view value);
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
