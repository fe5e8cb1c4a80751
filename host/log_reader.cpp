#include "host/log_reader.h"

#include "host/ncsa_parser.h"

namespace {

bool blank(const std::string& line) {
  return line.find_first_not_of(" \t") == std::string::npos;
}

}  // namespace

bool log_reader::next(log_entry& entry, line_result& result) {
  if (!std::getline(in_, line_)) return false;
  ++line_number_;
  bytes_read_ += line_.size() + (in_.eof() ? 0 : 1);
  if (!line_.empty() && line_.back() == '\r') line_.pop_back();
  if (format_ == log_format::automatic && !blank(line_))
    format_ = line_.front() == '#' ? log_format::w3c : log_format::ncsa;
  switch (format_) {
    case log_format::w3c:
      result = w3c_.parse(line_, entry);
      break;
    case log_format::ncsa:
      result = parse_ncsa_line(line_, entry);
      break;
    case log_format::automatic:
      result = {line_kind::blank, {}};
      break;
  }
  return true;
}
