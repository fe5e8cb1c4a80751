#include "host/log_reader.h"

#include "host/ncsa_parser.h"

#include <limits>

namespace {

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

bool blank(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

// NCSA lines carry their [time] as the fourth or, after a virtual host, the
// fifth word; IIS's W3C lines never begin a word with "[" that early.
bool looks_like_ncsa(std::string_view line) {
  std::size_t i = 0;
  for (int word = 0; word < 5 && i < line.size(); ++word) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i < line.size() && line[i] == '[') return true;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
  }
  return false;
}

}  // namespace

log_reader::log_reader(std::istream& in, log_format format, std::string_view default_fields)
    : in_(in), automatic_(format == log_format::automatic), format_(format) {
  w3c_.set_default_fields(default_fields);
}

// Into line_, at most max_line_bytes and a "\r"; the rest of a longer line is
// read past and counted in overlong_.
bool log_reader::read_line() {
  constexpr std::size_t room = max_line_bytes + 2;  // the "\r" and getline's NUL
  // Not zeroed: only the pages a line reaches are ever touched.
  if (!line_) line_.reset(new char[room]);
  overlong_ = 0;
  in_.getline(line_.get(), static_cast<std::streamsize>(room));
  length_ = static_cast<std::size_t>(in_.gcount());
  if (in_.bad()) return false;
  if (in_.fail() && length_ == 0) return false;  // the end, no line before it
  bytes_read_ += length_;
  if (in_.fail() && !in_.eof()) {  // full: the line goes on
    in_.clear();
    overlong_ = length_;
    in_.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    const auto rest = static_cast<std::uint64_t>(in_.gcount());
    bytes_read_ += rest;
    overlong_ += rest;
    if (in_.bad()) return true;
    if (!in_.eof()) --overlong_;  // the line end
    in_.clear(in_.rdstate() & ~std::ios::failbit);
    length_ = 0;
    return true;
  }
  if (!in_.eof()) --length_;  // getline counted the line end it took
  if (length_ > 0 && line_[length_ - 1] == '\r') --length_;
  if (length_ > max_line_bytes) {
    overlong_ = length_;
    length_ = 0;
  }
  return true;
}

bool log_reader::next(log_entry& entry, line_result& result) {
  if (!read_line()) return false;
  ++line_number_;
  if (line_number_ == 1)
    gzip_magic_ = (length_ >= 2 || overlong_ > 0) && line_[0] == '\x1F' && line_[1] == '\x8B';
  if (overlong_ > 0) {
    result = malformed_line("longer than 1 MiB (" + std::to_string(overlong_) + " bytes)");
    return true;
  }
  std::string_view line(line_.get(), length_);
  if (line.substr(0, 3) == byte_order_mark) line.remove_prefix(3);
  // Until a "#" line settles it, each line is judged by its shape, so that one
  // odd first line does not decide for the whole input.
  if (automatic_ && !seen_directive_ && !blank(line)) {
    seen_directive_ = line.front() == '#';
    format_ = seen_directive_ || !looks_like_ncsa(line) ? log_format::w3c : log_format::ncsa;
  }
  switch (format_) {
    case log_format::w3c:
      result = w3c_.parse(line, entry);
      if (w3c_.on_default_fields() && result.kind != line_kind::blank && result.kind != line_kind::directive)
        used_defaults_ = true;
      break;
    case log_format::ncsa:
      result = parse_ncsa_line(line, entry);
      break;
    case log_format::automatic:
      result = {line_kind::blank, {}};
      break;
  }
  return true;
}

bool log_reader::take_warning(std::string& warning) {
  if (!used_defaults_ || warned_) return false;
  warned_ = true;
  warning = "W3C lines before any #Fields line: read with the default fields (--fields gives others):";
  for (const auto& name : w3c_.fields()) warning += " " + name;
  return true;
}
