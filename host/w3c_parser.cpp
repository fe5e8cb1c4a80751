#include "host/w3c_parser.h"

#include <algorithm>
#include <cctype>
#include <cstring>

const char* const iis_default_fields =
    "date time s-ip cs-method cs-uri-stem cs-uri-query s-port cs-username c-ip cs(User-Agent) "
    "cs(Referer) sc-status sc-substatus sc-win32-status time-taken";

namespace {

// Columns whose "+" IIS did not write for a space; every other column's did.
struct column_rule {
  std::string_view name;
  plus_rule rule;
};
constexpr column_rule column_rules[] = {
    {"cs-uri-query", plus_rule::kept},
    {"cs(referer)", plus_rule::kept},
    {"cs(x-original-url)", plus_rule::kept},
    {"cs(cookie)", plus_rule::after_semicolon},
};

// Names of the W3C format itself; any other name is a custom field's label.
constexpr std::string_view w3c_prefixes[] = {"c-", "s-", "r-", "cs-", "sc-", "sr-", "rs-"};
constexpr std::string_view w3c_plain_names[] = {"date", "time", "time-taken", "bytes", "cached", "comment"};

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Where words end: at the next blank or the line's end. IIS separates with
// spaces; tabs are looked for only in a line that has some. The next space and
// the next tab found serve every word before them, so a line is searched once
// for each, whatever its mix of the two.
class word_ends {
 public:
  explicit word_ends(std::string_view line)
      : line_(line), tab_(line.find('\t') == std::string_view::npos ? line.size() : unsearched) {}

  // The end of the word that starts at i.
  std::size_t from(std::size_t i) { return std::min(next(' ', i, space_), next('\t', i, tab_)); }

 private:
  static constexpr std::size_t unsearched = std::string_view::npos;

  // The first c at or after i, or the line's size; `found` keeps the last answer.
  std::size_t next(char c, std::size_t i, std::size_t& found) {
    if (found == unsearched || found < i) {
      found = line_.find(c, i);
      if (found == std::string_view::npos) found = line_.size();
    }
    return found;
  }

  std::string_view line_;
  std::size_t space_ = unsearched;
  std::size_t tab_;
};

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::string lower_case(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

bool is_w3c_name(std::string_view name) {
  if (name.find('(') != std::string_view::npos) return true;
  for (auto prefix : w3c_prefixes)
    if (starts_with(name, prefix)) return true;
  for (auto plain : w3c_plain_names)
    if (name == plain) return true;
  return false;
}

bool is_header_name(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') return false;
  return true;
}

// Splits at blanks; a value that begins with a double quote runs to the quote
// that ends it (one followed by a blank or the line end), blanks and all.
// Such ends are searched for once: the next one found serves every value
// before it, so a line of many quotes is split in one pass.
void split_values(std::string_view line, std::vector<std::string_view>& values) {
  values.clear();
  word_ends ends(line);
  constexpr std::size_t unsearched = 0;  // no quote can end a value at 0
  std::size_t next_end = unsearched;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && is_blank(line[i])) ++i;
    if (i >= line.size()) break;
    const std::size_t start = i;
    if (line[i] == '"') {
      if (next_end != std::string_view::npos && next_end <= i) {
        next_end = line.find('"', i + 1);
        while (next_end != std::string_view::npos && next_end + 1 < line.size() && !is_blank(line[next_end + 1]))
          next_end = line.find('"', next_end + 1);
      }
      if (next_end != std::string_view::npos) i = next_end + 1;
    }
    i = ends.from(i);  // also an unclosed quote's word
    values.push_back(line.substr(start, i - start));
  }
}

// Turns a value of the line back where it lies: "-" is absent (false); a
// value in double quotes is taken as it stands, quotes removed; "+" per the rule.
bool decode_in_place(plus_rule rule, char* raw, std::size_t size, std::string_view& value) {
  if (size == 1 && raw[0] == '-') return false;
  if (size >= 2 && raw[0] == '"' && raw[size - 1] == '"') {
    value = std::string_view(raw + 1, size - 2);
    return !value.empty();
  }
  value = std::string_view(raw, size);
  if (rule == plus_rule::space) {
    char* const end = raw + size;
    char* plus = raw;
    while ((plus = static_cast<char*>(std::memchr(plus, '+', static_cast<std::size_t>(end - plus)))) != nullptr)
      *plus++ = ' ';
  } else if (rule == plus_rule::after_semicolon) {
    for (std::size_t i = 1; i < size; ++i)
      if (raw[i] == '+' && raw[i - 1] == ';') raw[i] = ' ';
  }
  return true;
}

}  // namespace

w3c_column w3c_column_of(std::string_view field) {
  w3c_column column{lower_case(field), plus_rule::space};
  std::string& name = column.name;
  if (!is_w3c_name(name) && is_header_name(name)) {
    if (starts_with(name, "http_") && name.size() > 5) name.erase(0, 5);
    for (char& c : name)
      if (c == '_') c = '-';
    name = "cs(" + name + ")";
  }
  if (name == "cs(referrer)") name = "cs(referer)";
  for (const auto& known : column_rules)
    if (name == known.name) column.rule = known.rule;
  return column;
}

bool w3c_value(std::string_view field, std::string_view raw, std::string& value) {
  std::string text(raw);
  std::string_view decoded;
  if (!decode_in_place(w3c_column_of(field).rule, text.data(), text.size(), decoded)) return false;
  value.assign(decoded);
  return true;
}

void w3c_parser::set_columns(std::string_view fields) {
  columns_.clear();
  split_values(fields, values_);
  bool stem = false, status = false;
  for (auto name : values_) {
    columns_.push_back(w3c_column_of(name));
    stem = stem || columns_.back().name == "cs-uri-stem";
    status = status || columns_.back().name == "sc-status";
  }
  refusal_.clear();
  // IIS lets either be left out, never both of a web site's log.
  if (!stem && !status) refusal_ = "not a web server log: its fields have neither cs-uri-stem nor sc-status";
  have_fields_ = true;
}

void w3c_parser::set_default_fields(std::string_view fields) {
  if (have_fields_) return;
  set_columns(fields);
  on_defaults_ = true;
}

std::vector<std::string> w3c_parser::fields() const {
  std::vector<std::string> names;
  for (const auto& column : columns_) names.push_back(column.name);
  return names;
}

line_result w3c_parser::parse(std::string_view line, log_entry& entry) {
  text_.assign(line);
  split_values(text_, values_);
  if (values_.empty()) return {line_kind::blank, {}};
  if (line.front() == '#') {
    if (line.size() >= 8 && lower_case(line.substr(0, 8)) == "#fields:") {
      set_columns(line.substr(8));
      on_defaults_ = false;
    }
    return {line_kind::directive, {}};
  }
  if (!have_fields_) return malformed_line("request line before any #Fields directive");
  if (!refusal_.empty()) return malformed_line(refusal_);
  if (values_.size() != columns_.size())
    return malformed_line(std::to_string(values_.size()) + " values for " + std::to_string(columns_.size()) +
                          (on_defaults_ ? " fields (IIS's default fields: no #Fields line so far)" : " fields"));
  // Values are decoded in the line's own copy, which the entry then points into.
  entry.clear();
  for (std::size_t i = 0; i < values_.size(); ++i) {
    char* const raw = text_.data() + (values_[i].data() - text_.data());
    std::string_view value;
    if (decode_in_place(columns_[i].rule, raw, values_[i].size(), value))
      entry.fields.push_back({columns_[i].name, value});
  }
  return request_line();
}
