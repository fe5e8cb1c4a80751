// Reading one log input line by line, in whichever format it is written.
#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <string>

#include "host/log_entry.h"
#include "host/w3c_parser.h"

enum class log_format { automatic, w3c, ncsa };

// The longest line read (1 MiB), without its line end; a longer one is
// malformed, and never held whole.
constexpr std::size_t max_line_bytes = std::size_t{1} << 20;

// One reader per input, used by one thread. The stream must outlive it.
class log_reader {
 public:
  // automatic: from the first "#" line on W3C; before it, a line with a
  // [time] among its first words is NCSA, any other W3C. W3C data lines
  // before a #Fields line take default_fields.
  log_reader(std::istream& in, log_format format, std::string_view default_fields = iis_default_fields);

  // Reads the next line into entry (filled for a request line). False at the end.
  // A line longer than max_line_bytes is malformed.
  bool next(log_entry& entry, line_result& result);

  // Once per input: the note that lines are read with the default fields.
  bool take_warning(std::string& warning);

  std::uint64_t line_number() const noexcept { return line_number_; }  // of the last line read
  std::uint64_t bytes_read() const noexcept { return bytes_read_; }
  log_format format() const noexcept { return format_; }  // of the last line that was not blank
  bool used_default_fields() const noexcept { return used_defaults_; }
  bool began_as_gzip() const noexcept { return gzip_magic_; }  // the input is still compressed

 private:
  bool read_line();

  std::istream& in_;
  const bool automatic_;
  log_format format_;
  w3c_parser w3c_;
  std::unique_ptr<char[]> line_;  // max_line_bytes, a "\r" and a NUL, reused
  std::size_t length_ = 0;  // of the line in line_
  std::uint64_t overlong_ = 0;  // bytes of the last line when it was too long, else 0
  std::uint64_t line_number_ = 0;
  std::uint64_t bytes_read_ = 0;
  bool seen_directive_ = false;
  bool used_defaults_ = false;
  bool warned_ = false;
  bool gzip_magic_ = false;
};
