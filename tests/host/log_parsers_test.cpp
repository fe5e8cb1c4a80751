#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "host/log_reader.h"
#include "host/ncsa_parser.h"
#include "host/w3c_parser.h"

namespace {

std::string value_of(const log_entry& entry, const char* name) {
  const std::string_view* value = entry.find(name);
  return value ? std::string(*value) : std::string("<absent>");
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
  parser.parse("#fields: cs(User-Agent) CS-HOST SC-Status", entry);
  ASSERT_EQ(parser.parse("curl/8 example.com 200", entry).kind, line_kind::request);
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
                      value_case{"cs(cookie)", "a=1;+b=2", "a=1; b=2"},
                      // As IIS writes each field: "+" stays where the value is URL-encoded or base64.
                      value_case{"cs(cookie)", "sid=ab+c/d==;+theme=dark", "sid=ab+c/d==; theme=dark"},
                      value_case{"cs(referer)", "https://x/?q=a+b", "https://x/?q=a+b"},
                      value_case{"cs(Referrer)", "https://x/?q=a+b", "https://x/?q=a+b"},
                      value_case{"X-Original-URL", "/a?b=c+d", "/a?b=c+d"},
                      value_case{"X-Forwarded-For", "192.0.2.1,+10.0.0.1", "192.0.2.1, 10.0.0.1"},
                      value_case{"cs-username", "CONTOSO\\Jo+Smith", "CONTOSO\\Jo Smith"},
                      // Quoted values stand as they are.
                      value_case{"cs(user-agent)", "\"Mozilla/5.0 (X11) a+b\"", "Mozilla/5.0 (X11) a+b"},
                      value_case{"cs(cookie)", "\"\"", nullptr}));

TEST(w3c_column_of, names_custom_fields_by_the_header_they_log) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"X-Forwarded-For", "cs(x-forwarded-for)"}, {"x-original-url", "cs(x-original-url)"},
      {"HTTP_X_FORWARDED_FOR", "cs(x-forwarded-for)"}, {"Authorization", "cs(authorization)"},
      {"cs(Referrer)", "cs(referer)"}, {"cs(User-Agent)", "cs(user-agent)"},
      {"sc-substatus", "sc-substatus"}, {"date", "date"}, {"time-taken", "time-taken"},
      {"s-computername", "s-computername"}, {"odd/label", "odd/label"},
  };
  for (const auto& c : cases) EXPECT_EQ(w3c_column_of(c.first).name, c.second) << c.first;
}

TEST(w3c_parser, quoted_values_hold_blanks_and_custom_fields_are_headers) {
  w3c_parser parser;
  log_entry entry;
  parser.parse("#Fields: cs-uri-stem sc-status cs(User-Agent) cs(Cookie) X-Forwarded-For", entry);
  const auto result =
      parser.parse(R"x(/a 200 "Mozilla/5.0 (Windows NT 10.0)" "a=1; b=x y" 192.0.2.1,+10.0.0.1)x", entry);
  ASSERT_EQ(result.kind, line_kind::request) << result.problem;
  EXPECT_EQ(value_of(entry, "cs(user-agent)"), "Mozilla/5.0 (Windows NT 10.0)");
  EXPECT_EQ(value_of(entry, "cs(cookie)"), "a=1; b=x y");
  EXPECT_EQ(value_of(entry, "cs(x-forwarded-for)"), "192.0.2.1, 10.0.0.1");
  // Tabs part values as spaces do.
  ASSERT_EQ(parser.parse("/t\t200 \t\"a b\"\tc=1\t10.0.0.1", entry).kind, line_kind::request);
  EXPECT_EQ(value_of(entry, "cs-uri-stem"), "/t");
  EXPECT_EQ(value_of(entry, "cs(user-agent)"), "a b");
  EXPECT_EQ(value_of(entry, "cs(x-forwarded-for)"), "10.0.0.1");
  // A space found far ahead serves the tab-parted words before it.
  ASSERT_EQ(parser.parse("/t\t200\tua\tc=1 10.0.0.1", entry).kind, line_kind::request);
  EXPECT_EQ(value_of(entry, "cs(cookie)"), "c=1");
  EXPECT_EQ(value_of(entry, "cs(x-forwarded-for)"), "10.0.0.1");
  // An unclosed quote is an ordinary word.
  ASSERT_EQ(parser.parse(R"(/a 200 "Mozilla/5.0 c d)", entry).kind, line_kind::request);
  EXPECT_EQ(value_of(entry, "cs(user-agent)"), "\"Mozilla/5.0");
}

TEST(w3c_parser, refuses_logs_that_are_not_web_logs) {
  const std::vector<const char*> fields = {
      "#Fields: date time action protocol src-ip dst-ip src-port dst-port size",  // a firewall log
      "#Fields: date time c-ip cs-method s-ip s-port x-fullpath",                 // neither URL nor status
  };
  for (const char* line : fields) {
    w3c_parser parser;
    log_entry entry;
    parser.parse(line, entry);
    const auto result = parser.parse("2026-12-07 10:00:00 a b c d e f g", entry);
    EXPECT_EQ(result.kind, line_kind::malformed) << line;
    EXPECT_NE(result.problem.find("not a web server log"), std::string::npos) << line << ": " << result.problem;
  }
}

struct malformed_case {
  const char* name;
  std::vector<std::string> lines;  // the last is the one judged
  const char* problem = "";        // within the reason given
};

std::string repeated(const std::string& text, std::size_t times) {
  std::string result;
  for (std::size_t i = 0; i < times; ++i) result += text;
  return result;
}

TEST(w3c_parser, refuses_lines_that_do_not_fit) {
  const std::vector<malformed_case> cases = {
      {"data before any #Fields", {"2026-12-07 10:00:00 /a 200"}},
      {"too few values", {"#Fields: date time cs-uri-stem", "2026-12-07 10:00:00"}},
      {"too many values", {"#Fields: cs-uri-stem", "/a /b"}},
      {"empty #Fields", {"#Fields:", "/a"}},
      // Each value opens a quote that none closes: split in one pass, not one per value.
      {"80,000 quoted words", {"#Fields: cs-uri-stem", repeated("\"x\"y ", 80000)}, "80000 values for 1 fields"},
  };
  for (const auto& c : cases) {
    w3c_parser parser;
    log_entry entry;
    line_result result;
    for (const auto& line : c.lines) result = parser.parse(line, entry);
    EXPECT_EQ(result.kind, line_kind::malformed) << c.name;
    EXPECT_FALSE(result.problem.empty()) << c.name;
    EXPECT_NE(result.problem.find(c.problem), std::string::npos) << c.name << ": " << result.problem;
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

struct ncsa_case {
  std::string line;
  std::vector<std::pair<const char*, const char*>> expected;  // "<absent>" for none
};

TEST(ncsa_parser, reads_requests_as_servers_log_them) {
  const std::string rest = R"( - - [07/Dec/2026:10:00:00 +0000] )";
  const std::vector<ncsa_case> cases = {
      // Requests a server refused before it had a method and a URL.
      {"192.0.2.7" + rest + R"("" 400 0)", {{"cs-method", "<absent>"}, {"cs-uri-stem", "<absent>"}, {"sc-status", "400"}}},
      {"192.0.2.7" + rest + R"("hello" 400 226)", {{"cs-method", "<absent>"}, {"sc-bytes", "226"}}},
      {"192.0.2.7" + rest + R"("\x16\x03\x01\x02\x00\x01" 400 -)", {{"cs-uri-stem", "<absent>"}}},
      {"192.0.2.7" + rest + R"("GARBAGE" 400 10)", {{"cs-method", "<absent>"}, {"sc-status", "400"}}},
      // A target with a blank, and HTTP/0.9 without a protocol.
      {"192.0.2.7" + rest + R"("GET /a b?x=1 HTTP/1.1" 404 0)",
       {{"cs-uri-stem", "/a b"}, {"cs-uri-query", "x=1"}, {"cs-version", "HTTP/1.1"}}},
      {"192.0.2.7" + rest + R"("GET /" 200 5)", {{"cs-uri-stem", "/"}, {"cs-version", "<absent>"}}},
      // A virtual host before the client, with and without its port.
      {"www.example.com:8080 192.0.2.7" + rest + R"("GET / HTTP/1.1" 200 5 "-" "curl/8")",
       {{"cs-host", "www.example.com"}, {"s-port", "8080"}, {"c-ip", "192.0.2.7"}, {"cs(user-agent)", "curl/8"}}},
      {"www.example.com 192.0.2.7" + rest + R"("GET / HTTP/1.1" 200 5)",
       {{"cs-host", "www.example.com"}, {"s-port", "<absent>"}, {"c-ip", "192.0.2.7"}}},
  };
  for (const auto& c : cases) {
    log_entry entry;
    const auto result = parse_ncsa_line(c.line, entry);
    ASSERT_EQ(result.kind, line_kind::request) << c.line << ": " << result.problem;
    for (const auto& field : c.expected) EXPECT_EQ(value_of(entry, field.first), field.second) << c.line;
  }
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

struct reader_case {
  const char* name;
  std::string text;
  log_format format;
  std::vector<line_kind> kinds;
  std::string last_stem;  // of the last request
  bool warned;            // about the default fields
};

TEST(log_reader, decides_the_format_per_input_and_per_block) {
  using k = line_kind;
  const std::string ncsa = R"(192.0.2.7 - - [07/Dec/2026:10:00:00 +0000] "GET /n HTTP/1.1" 200 10)";
  const std::string iis = "2026-12-07 10:00:00 10.0.0.5 GET /w - 443 - 192.0.2.7 curl/8 - 200 0 0 15";
  const std::string fields = "#Fields: cs-uri-stem sc-status\n";
  const std::vector<reader_case> cases = {
      {"byte-order mark", "\xEF\xBB\xBF#Fields: cs-uri-stem sc-status\n/b 200\n", log_format::automatic,
       {k::directive, k::request}, "/b", false},
      {"header lost", iis + "\n" + iis + "\n", log_format::automatic, {k::request, k::request}, "/w", true},
      {"cut after the header", iis + "\n#Fields: cs-uri-stem sc-status\n/c 200\n", log_format::automatic,
       {k::request, k::directive, k::request}, "/c", true},
      {"forced W3C", iis + "\n", log_format::w3c, {k::request}, "/w", true},
      {"NCSA, then a W3C block", ncsa + "\n#Fields: cs-uri-stem sc-status\n/d 200\n", log_format::automatic,
       {k::request, k::directive, k::request}, "/d", false},
      {"NCSA only", ncsa + "\n" + ncsa + "\n", log_format::automatic, {k::request, k::request}, "/n", false},
      {"NCSA after a cut first line", "0:00 +0000] \"GET /x\" 200 1\n" + ncsa + "\n", log_format::automatic,
       {k::malformed, k::request}, "/n", true},
      {"other columns without a header", "/a 200\n", log_format::automatic, {k::malformed}, "", true},
      // A quoted value ends at the first quote before a blank, however many quotes come first.
      {"quotes within a quoted value", "#Fields: cs-uri-stem sc-status\n\"/a\"b \"x y\" 200\n",
       log_format::automatic, {k::directive, k::request}, "/a\"b \"x y", false},
      {"quotes that close no value", "#Fields: cs-uri-stem cs-uri-query sc-status\n\"/a\"b \"c\"d 200\n",
       log_format::automatic, {k::directive, k::request}, "\"/a\"b", false},
      // Lines are bounded: a longer one is skipped whole, and the next read as usual.
      {"a line over the limit", fields + "/" + std::string(max_line_bytes, 'x') + " 200\n/e 200\n",
       log_format::automatic, {k::directive, k::malformed, k::request}, "/e", false},
      {"a last line over the limit", fields + "/e 200\n/" + std::string(max_line_bytes + 1, 'x'),
       log_format::automatic, {k::directive, k::request, k::malformed}, "/e", false},
      {"a line at the limit, CR LF", fields + "/" + std::string(max_line_bytes - 5, 'x') + " 200\r\n",
       log_format::automatic, {k::directive, k::request}, "/" + std::string(max_line_bytes - 5, 'x'), false},
  };
  for (const auto& c : cases) {
    std::istringstream in(c.text);
    log_reader reader(in, c.format);
    log_entry entry;
    line_result result;
    std::vector<line_kind> kinds;
    std::string stem, warning;
    int warnings = 0;
    while (reader.next(entry, result)) {
      kinds.push_back(result.kind);
      if (result.kind == k::request) stem = value_of(entry, "cs-uri-stem");
      warnings += reader.take_warning(warning);
    }
    EXPECT_EQ(kinds, c.kinds) << c.name;
    EXPECT_EQ(stem, c.last_stem) << c.name;
    EXPECT_EQ(warnings, c.warned ? 1 : 0) << c.name;
  }
}

TEST(log_reader, default_fields_can_be_given) {
  std::istringstream in("/a 404 12\n");
  log_reader reader(in, log_format::automatic, "cs-uri-stem sc-status time-taken");
  log_entry entry;
  line_result result;
  ASSERT_TRUE(reader.next(entry, result));
  ASSERT_EQ(result.kind, line_kind::request) << result.problem;
  EXPECT_EQ(value_of(entry, "time-taken"), "12");
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
