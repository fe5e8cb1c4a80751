// The W3C extended log format as IIS writes it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/log_entry.h"

// The columns IIS logs unless told otherwise (IIS 7 and later).
extern const char* const iis_default_fields;

// How IIS wrote the spaces of a column's values.
enum class plus_rule {
  space,            // every "+" was a space (user agent, URL path, user name, ...)
  kept,             // "+" is itself: values that are URL-encoded anyway (query, referer)
  after_semicolon,  // only "+" after ";" was a space: cookies, whose values hold no spaces
};

struct w3c_column {
  std::string name;  // lower case; a custom field's label as the header it names
  plus_rule rule = plus_rule::space;
};

// A #Fields name as the column it is: "cs(Referrer)" is the referer, and an
// IIS 8.5+ custom field's label ("X-Forwarded-For") is the request header
// "cs(x-forwarded-for)" (a label "HTTP_X_FORWARDED_FOR" too).
w3c_column w3c_column_of(std::string_view field);

// Reads one file's lines in order: "#Fields:" sets the columns of the lines
// after it, other directives are skipped. One parser per input.
class w3c_parser {
 public:
  // One line without its line end; fills entry for a request line, whose
  // views point into this parser until the next call.
  line_result parse(std::string_view line, log_entry& entry);

  // Columns for data lines before any #Fields line ("date time ..."); without
  // them such lines are malformed.
  void set_default_fields(std::string_view fields);

  // The columns of the latest "#Fields:" directive, in lower case.
  std::vector<std::string> fields() const;

  // True while lines are read with the default columns.
  bool on_default_fields() const noexcept { return on_defaults_; }

 private:
  void set_columns(std::string_view fields);

  std::vector<w3c_column> columns_;
  std::string text_;  // the current line's copy, its values decoded in place
  std::vector<std::string_view> values_;  // of the current line, reused
  std::string refusal_;  // why the current columns are no web server log's
  bool have_fields_ = false;
  bool on_defaults_ = false;
};

// A value as IIS logs it turned back: "-" is absent (false), "+" per the
// field's rule. A value in double quotes is taken as it stands, quotes removed.
bool w3c_value(std::string_view field, std::string_view raw, std::string& value);
