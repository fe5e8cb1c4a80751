// Reading one log input line by line, in whichever format it is written.
#pragma once

#include <cstdint>
#include <istream>
#include <string>

#include "host/log_entry.h"
#include "host/w3c_parser.h"

enum class log_format { automatic, w3c, ncsa };

// One reader per input, used by one thread. The stream must outlive it.
class log_reader {
 public:
  // automatic: W3C when the first line that is not blank begins with "#".
  log_reader(std::istream& in, log_format format) : in_(in), format_(format) {}

  // Reads the next line into entry (filled for a request line). False at the end.
  bool next(log_entry& entry, line_result& result);

  std::uint64_t line_number() const noexcept { return line_number_; }  // of the last line read
  std::uint64_t bytes_read() const noexcept { return bytes_read_; }
  log_format format() const noexcept { return format_; }

 private:
  std::istream& in_;
  log_format format_;
  w3c_parser w3c_;
  std::string line_;
  std::uint64_t line_number_ = 0;
  std::uint64_t bytes_read_ = 0;
};
