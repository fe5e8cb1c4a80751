#include "host/w3c_parser.h"

#include <cctype>

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::vector<std::string_view> split_blanks(std::string_view text) {
  std::vector<std::string_view> parts;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && is_blank(text[i])) ++i;
    const std::size_t start = i;
    while (i < text.size() && !is_blank(text[i])) ++i;
    if (i > start) parts.push_back(text.substr(start, i - start));
  }
  return parts;
}

std::string lower_case(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && lower_case(text.substr(0, prefix.size())) == prefix;
}

}  // namespace

bool w3c_value(std::string_view field, std::string_view raw, std::string& value) {
  if (raw == "-") return false;
  value.assign(raw);
  if (field != "cs-uri-query")
    for (char& c : value)
      if (c == '+') c = ' ';
  return true;
}

line_result w3c_parser::parse(std::string_view line, log_entry& entry) {
  if (split_blanks(line).empty()) return {line_kind::blank, {}};
  if (line.front() == '#') {
    if (starts_with_ignoring_case(line, "#fields:")) {
      fields_.clear();
      for (auto name : split_blanks(line.substr(8))) fields_.push_back(lower_case(name));
      have_fields_ = true;
    }
    return {line_kind::directive, {}};
  }
  if (!have_fields_) return malformed_line("request line before any #Fields directive");
  const auto values = split_blanks(line);
  if (values.size() != fields_.size())
    return malformed_line(std::to_string(values.size()) + " values for " +
                          std::to_string(fields_.size()) + " fields");
  entry.fields.clear();
  std::string value;
  for (std::size_t i = 0; i < values.size(); ++i)
    if (w3c_value(fields_[i], values[i], value)) entry.fields.emplace_back(fields_[i], value);
  return request_line();
}
