// The W3C extended log format as IIS writes it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/log_entry.h"

// Reads one file's lines in order: "#Fields:" sets the columns of the lines
// after it, other directives are skipped. One parser per input.
class w3c_parser {
 public:
  // One line without its line end; fills entry for a request line.
  line_result parse(std::string_view line, log_entry& entry);

  // The columns of the latest "#Fields:" directive, in lower case.
  const std::vector<std::string>& fields() const noexcept { return fields_; }

 private:
  std::vector<std::string> fields_;
  bool have_fields_ = false;
};

// A value as IIS logs it turned back: "-" is absent (false), "+" is a space.
// The query string keeps its "+", which there is a byte of the request itself.
bool w3c_value(std::string_view field, std::string_view raw, std::string& value);
