#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "host/log_reader.h"
#include "host/ncsa_parser.h"
#include "host/w3c_parser.h"

namespace {

std::string value_of(const log_entry& entry, const char* name) {
  const std::string* value = entry.find(name);
  return value ? *value : std::string("<absent>");
}

TEST(w3c_parser, fields_directive_decides_columns_and_may_change_mid_file) {
  w3c_parser parser;
  log_entry entry;
  EXPECT_EQ(parser.parse("#Software: Microsoft Internet Information Services 10.0", entry).kind,
            line_kind::directive);
  EXPECT_EQ(parser.parse("#Fields: date time cs-uri-stem sc-status", entry).kind, line_kind::directive);
  ASSERT_EQ(parser.parse("2026-12-07 10:00:00 /a 200", entry).kind, line_kind::request);
  EXPECT_EQ(value_of(entry, "cs-uri-stem"), "/a");
  EXPECT_EQ(value_of(entry, "sc-status"), "200");

  EXPECT_EQ(parser.parse("#Fields: sc-status cs-uri-stem time-taken", entry).kind, line_kind::directive);
  ASSERT_EQ(parser.parse("404 /b 17", entry).kind, line_kind::request);
  EXPECT_EQ(value_of(entry, "cs-uri-stem"), "/b");
  EXPECT_EQ(value_of(entry, "sc-status"), "404");
  EXPECT_EQ(value_of(entry, "time-taken"), "17");
  EXPECT_EQ(value_of(entry, "date"), "<absent>");
  // The old column count no longer fits.
  EXPECT_EQ(parser.parse("2026-12-07 10:00:00 /a 200", entry).kind, line_kind::malformed);
}

TEST(w3c_parser, other_directives_leave_the_columns_alone) {
  w3c_parser parser;
  log_entry entry;
  parser.parse("#Fields: cs-method cs-uri-stem", entry);
  for (const char* directive : {"#Version: 1.0", "#Date: 2026-12-07 00:00:00", "#Remark: restart", "#"})
    EXPECT_EQ(parser.parse(directive, entry).kind, line_kind::directive) << directive;
  EXPECT_EQ(parser.parse("GET /x", entry).kind, line_kind::request);
  EXPECT_EQ(parser.fields(), (std::vector<std::string>{"cs-method", "cs-uri-stem"}));
}

TEST(w3c_parser, field_names_compare_in_lower_case) {
  w3c_parser parser;
  log_entry entry;
  parser.parse("#fields: cs(User-Agent) CS-HOST", entry);
  ASSERT_EQ(parser.parse("curl/8 example.com", entry).kind, line_kind::request);
  EXPECT_EQ(value_of(entry, "cs(user-agent)"), "curl/8");
  EXPECT_EQ(value_of(entry, "cs-host"), "example.com");
}

struct value_case {
  const char* field;
  const char* raw;
  const char* expected;  // null: absent
};

class w3c_values : public ::testing::TestWithParam<value_case> {};

TEST_P(w3c_values, are_turned_back) {
  const auto& c = GetParam();
  std::string value;
  const bool present = w3c_value(c.field, c.raw, value);
  if (c.expected == nullptr) {
    EXPECT_FALSE(present);
  } else {
    ASSERT_TRUE(present);
    EXPECT_EQ(value, c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    cases, w3c_values,
    ::testing::Values(value_case{"cs(user-agent)", "Mozilla/5.0+(Windows+NT+10.0)", "Mozilla/5.0 (Windows NT 10.0)"},
                      value_case{"cs-uri-stem", "/annual+report.pdf", "/annual report.pdf"},
                      value_case{"cs-username", "-", nullptr},
                      value_case{"cs(referer)", "-", nullptr},
                      value_case{"cs-uri-query", "q=blue+shoes", "q=blue+shoes"},
                      value_case{"cs-uri-query", "-", nullptr},
                      value_case{"cs-username", "--", "--"},
                      value_case{"cs(cookie)", "a=1;+b=2", "a=1; b=2"}));

struct malformed_case {
  const char* name;
  std::vector<const char*> lines;  // the last is the one judged
};

TEST(w3c_parser, refuses_lines_that_do_not_fit) {
  const std::vector<malformed_case> cases = {
      {"data before any #Fields", {"2026-12-07 10:00:00 /a 200"}},
      {"too few values", {"#Fields: date time cs-uri-stem", "2026-12-07 10:00:00"}},
      {"too many values", {"#Fields: cs-uri-stem", "/a /b"}},
      {"empty #Fields", {"#Fields:", "/a"}},
  };
  for (const auto& c : cases) {
    w3c_parser parser;
    log_entry entry;
    line_result result;
    for (const char* line : c.lines) result = parser.parse(line, entry);
    EXPECT_EQ(result.kind, line_kind::malformed) << c.name;
    EXPECT_FALSE(result.problem.empty()) << c.name;
  }
}

TEST(w3c_parser, blank_lines_are_neither_requests_nor_malformed) {
  w3c_parser parser;
  log_entry entry;
  EXPECT_EQ(parser.parse("", entry).kind, line_kind::blank);
  EXPECT_EQ(parser.parse(" \t ", entry).kind, line_kind::blank);
}

TEST(ncsa_parser, combined_line_with_escaped_quotes) {
  log_entry entry;
  const auto result = parse_ncsa_line(
      R"(192.0.2.7 - alice [07/Dec/2026:10:00:00 +0000] "GET /search?q=a+b HTTP/1.1" 200 5120 )"
      R"("https://example.com/?q=\"x\"" "Agent \"quoted\" \\ backslash")",
      entry);
  ASSERT_EQ(result.kind, line_kind::request) << result.problem;
  EXPECT_EQ(value_of(entry, "c-ip"), "192.0.2.7");
  EXPECT_EQ(value_of(entry, "cs-username"), "alice");
  EXPECT_EQ(value_of(entry, "cs-method"), "GET");
  EXPECT_EQ(value_of(entry, "cs-uri-stem"), "/search");
  EXPECT_EQ(value_of(entry, "cs-uri-query"), "q=a+b");
  EXPECT_EQ(value_of(entry, "cs-version"), "HTTP/1.1");
  EXPECT_EQ(value_of(entry, "sc-status"), "200");
  EXPECT_EQ(value_of(entry, "sc-bytes"), "5120");
  EXPECT_EQ(value_of(entry, "cs(referer)"), "https://example.com/?q=\"x\"");
  EXPECT_EQ(value_of(entry, "cs(user-agent)"), "Agent \"quoted\" \\ backslash");
}

TEST(ncsa_parser, common_line_with_absent_values) {
  log_entry entry;
  const auto result =
      parse_ncsa_line(R"(host.example - - [07/Dec/2026:10:00:00 +0000] "HEAD / HTTP/1.0" 304 -)", entry);
  ASSERT_EQ(result.kind, line_kind::request) << result.problem;
  EXPECT_EQ(value_of(entry, "c-ip"), "host.example");
  EXPECT_EQ(value_of(entry, "cs-username"), "<absent>");
  EXPECT_EQ(value_of(entry, "sc-bytes"), "<absent>");
  EXPECT_EQ(value_of(entry, "cs-uri-query"), "<absent>");
  EXPECT_EQ(value_of(entry, "cs(referer)"), "<absent>");
}

TEST(ncsa_parser, combined_dash_referer_is_absent_and_extra_fields_are_ignored) {
  log_entry entry;
  const auto result = parse_ncsa_line(
      R"(192.0.2.7 - - [07/Dec/2026:10:00:00 +0000] "GET / HTTP/1.1" 200 10 "-" "curl/8" 1234 "vhost")", entry);
  ASSERT_EQ(result.kind, line_kind::request) << result.problem;
  EXPECT_EQ(value_of(entry, "cs(referer)"), "<absent>");
  EXPECT_EQ(value_of(entry, "cs(user-agent)"), "curl/8");
}

TEST(ncsa_parser, refuses_malformed_lines) {
  const std::vector<const char*> lines = {
      "192.0.2.7 - -",
      R"(192.0.2.7 - - 07/Dec/2026:10:00:00 "GET / HTTP/1.1" 200 10)",
      R"(192.0.2.7 - - [07/Dec/2026:10:00:00 +0000 "GET / HTTP/1.1" 200 10)",
      R"(192.0.2.7 - - [07/Dec/2026:10:00:00 +0000] "GET / HTTP/1.1 200 10)",
      R"(192.0.2.7 - - [07/Dec/2026:10:00:00 +0000] "GET / HTTP/1.1" OK 10)",
      R"(192.0.2.7 - - [07/Dec/2026:10:00:00 +0000] "GET / HTTP/1.1" 200 ten)",
      R"(192.0.2.7 - - [07/Dec/2026:10:00:00 +0000] "GET / HTTP/1.1" 200)",
      R"(192.0.2.7 - - [07/Dec/2026:10:00:00 +0000] "GARBAGE" 400 10)",
      R"(192.0.2.7 - - [07/Dec/2026:10:00:00 +0000] "GET / HTTP/1.1" 200 10 "-")",
      R"(192.0.2.7 - - [07/Dec/2026:10:00:00 +0000] "GET / HTTP/1.1" 200 10 "ref" "agent)",
      R"(192.0.2.7 - - [07/Dec/2026:10:00:00 +0000] "GET / HTTP/1.1\" 200 10)",
  };
  for (const char* line : lines) {
    log_entry entry;
    const auto result = parse_ncsa_line(line, entry);
    EXPECT_EQ(result.kind, line_kind::malformed) << line;
    EXPECT_FALSE(result.problem.empty()) << line;
  }
}

TEST(log_reader, detects_the_format_from_the_first_line_and_strips_carriage_returns) {
  std::istringstream w3c("\r\n#Fields: cs-uri-stem sc-status\r\n/a 200\r\n");
  log_reader w3c_reader(w3c, log_format::automatic);
  log_entry entry;
  line_result result;
  std::vector<line_kind> kinds;
  while (w3c_reader.next(entry, result)) kinds.push_back(result.kind);
  EXPECT_EQ(w3c_reader.format(), log_format::w3c);
  EXPECT_EQ(kinds, (std::vector<line_kind>{line_kind::blank, line_kind::directive, line_kind::request}));
  EXPECT_EQ(value_of(entry, "sc-status"), "200");
  EXPECT_EQ(w3c_reader.line_number(), 3u);
  EXPECT_EQ(w3c_reader.bytes_read(), w3c.str().size());

  std::istringstream ncsa(R"(192.0.2.7 - - [07/Dec/2026:10:00:00 +0000] "GET / HTTP/1.1" 200 10)");
  log_reader ncsa_reader(ncsa, log_format::automatic);
  ASSERT_TRUE(ncsa_reader.next(entry, result));
  EXPECT_EQ(ncsa_reader.format(), log_format::ncsa);
  EXPECT_EQ(result.kind, line_kind::request);
  EXPECT_FALSE(ncsa_reader.next(entry, result));
}

TEST(log_reader, a_forced_format_is_kept) {
  std::istringstream in("#Fields: cs-uri-stem\n/a\n");
  log_reader reader(in, log_format::ncsa);
  log_entry entry;
  line_result result;
  ASSERT_TRUE(reader.next(entry, result));
  EXPECT_EQ(result.kind, line_kind::malformed);
}

}  // namespace
