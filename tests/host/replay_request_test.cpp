#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/replay_request.h"

namespace {

using field_list = std::vector<std::pair<std::string, std::string>>;

// An entry whose views point into fields.
log_entry entry_of(const field_list& fields) {
  log_entry entry;
  for (const auto& field : fields) entry.fields.push_back({field.first, field.second});
  return entry;
}

std::unique_ptr<replay_request> request_of(const field_list& fields) {
  std::string problem;
  auto request = replay_request::from_entry(entry_of(fields), problem);
  EXPECT_TRUE(request) << problem;
  return request;
}

// Asks as the module does: a 2048-byte buffer, the size in and out.
std::string ask(replay_request& request, const char* name, BOOL* result = nullptr) {
  char buffer[2048];
  DWORD size = sizeof buffer;
  const BOOL ok = request.context()->GetServerVariable(request.context(), const_cast<LPSTR>(name), buffer, &size);
  if (result) *result = ok;
  return ok ? std::string(buffer) : std::string("<FALSE>");
}

TEST(replay_request, log_record_numbers_come_from_their_fields) {
  auto request = request_of({{"sc-status", "404"},
                             {"sc-win32-status", "2"},
                             {"sc-bytes", "4294967295"},
                             {"cs-bytes", "99999999999"},
                             {"time-taken", "15"}});
  const HTTP_FILTER_LOG* log = request->log();
  EXPECT_EQ(log->dwHttpStatus, 404u);
  EXPECT_EQ(log->dwWin32Status, 2u);
  EXPECT_EQ(log->dwBytesSent, 4294967295u);
  EXPECT_EQ(log->dwBytesRecvd, 4294967295u);  // beyond 32 bits: held at the largest
  EXPECT_EQ(log->msTimeForProcessing, 15u);
}

TEST(replay_request, absent_numbers_are_zero_and_words_are_refused) {
  auto request = request_of({{"cs-uri-stem", "/"}});
  EXPECT_EQ(request->log()->dwHttpStatus, 0u);
  EXPECT_EQ(request->log()->msTimeForProcessing, 0u);

  for (const char* field : {"sc-status", "sc-win32-status", "sc-bytes", "cs-bytes", "time-taken"}) {
    std::string problem;
    EXPECT_FALSE(replay_request::from_entry(entry_of({{field, "12a"}}), problem)) << field;
    EXPECT_NE(problem.find(field), std::string::npos) << problem;
  }
}

TEST(replay_request, server_variables_come_from_their_fields) {
  auto request = request_of({{"c-ip", "192.0.2.7"},
                             {"cs-method", "POST"},
                             {"cs-uri-stem", "/api/orders"},
                             {"cs-uri-query", "id=5"},
                             {"cs-username", "alice"},
                             {"s-ip", "10.0.0.5"},
                             {"s-port", "443"},
                             {"cs-host", "www.example.com:8443"},
                             {"cs-version", "HTTP/1.1"},
                             {"cs(user-agent)", "curl/8"},
                             {"cs(referer)", "https://example.com/"},
                             {"cs(cookie)", "a=1"},
                             {"cs(x-forwarded-for)", "203.0.113.9"}});
  const std::vector<std::pair<const char*, const char*>> expected = {
      {"REMOTE_ADDR", "192.0.2.7"},       {"REMOTE_HOST", "192.0.2.7"},
      {"REQUEST_METHOD", "POST"},         {"URL", "/api/orders"},
      {"QUERY_STRING", "id=5"},           {"REMOTE_USER", "alice"},
      {"AUTH_USER", "alice"},             {"LOCAL_ADDR", "10.0.0.5"},
      {"SERVER_PORT", "443"},             {"HTTP_HOST", "www.example.com:8443"},
      {"SERVER_NAME", "www.example.com"}, {"SERVER_PROTOCOL", "HTTP/1.1"},
      {"HTTP_USER_AGENT", "curl/8"},      {"HTTP_REFERER", "https://example.com/"},
      {"HTTP_COOKIE", "a=1"},             {"HTTP_X_FORWARDED_FOR", "203.0.113.9"},
      {"url", "/api/orders"},
  };
  for (const auto& e : expected) EXPECT_EQ(ask(*request, e.first), e.second) << e.first;

  const HTTP_FILTER_LOG* log = request->log();
  EXPECT_STREQ(log->pszClientHostName, "192.0.2.7");
  EXPECT_STREQ(log->pszOperation, "POST");
  EXPECT_STREQ(log->pszTarget, "/api/orders");
  EXPECT_STREQ(log->pszParameters, "id=5");
}

TEST(replay_request, absent_fields_give_empty_standard_variables_and_no_headers) {
  auto request = request_of({{"cs-uri-stem", "/"}, {"s-ip", "10.0.0.5"}});
  BOOL ok = FALSE;
  EXPECT_EQ(ask(*request, "REMOTE_USER", &ok), "");
  EXPECT_TRUE(ok);
  EXPECT_EQ(ask(*request, "QUERY_STRING"), "");
  EXPECT_EQ(ask(*request, "SERVER_NAME"), "10.0.0.5");  // no Host header: the server's address
  EXPECT_EQ(ask(*request, "HTTP_USER_AGENT", &ok), "<FALSE>");
  EXPECT_EQ(ask(*request, "NO_SUCH_VARIABLE"), "<FALSE>");
}

TEST(replay_request, filled_again_it_keeps_nothing_of_the_last_request) {
  replay_request request;
  std::string problem;
  ASSERT_TRUE(request.fill(entry_of({{"cs-uri-stem", std::string(100000, 'u')},
                                     {"cs-host", "a.example:81"},
                                     {"cs(referer)", "r"},
                                     {"sc-status", "500"}}),
                           problem));
  request.release_long_line();  // as a request thread does once it is sent
  EXPECT_EQ(ask(request, "URL"), "");
  EXPECT_EQ(ask(request, "HTTP_REFERER"), "<FALSE>");
  request.context()->pFilterContext = &problem;  // a filter's own pointer for that request
  ASSERT_TRUE(request.fill(entry_of({{"cs-uri-stem", "/b"}}), problem));
  EXPECT_EQ(ask(request, "URL"), "/b");
  EXPECT_EQ(ask(request, "SERVER_NAME"), "");
  EXPECT_EQ(ask(request, "HTTP_HOST"), "<FALSE>");
  EXPECT_EQ(ask(request, "HTTP_REFERER"), "<FALSE>");
  EXPECT_EQ(request.log()->dwHttpStatus, 0u);
  EXPECT_STREQ(request.log()->pszTarget, "/b");
  EXPECT_EQ(request.context()->pFilterContext, nullptr);

  // A refused line leaves it to be filled again; of two fields naming one header the first counts.
  EXPECT_FALSE(request.fill(entry_of({{"sc-status", "x"}}), problem));
  ASSERT_TRUE(request.fill(entry_of({{"cs-uri-stem", "/c"}, {"cs(x-a)", "2"}, {"cs(x_a)", "3"}}), problem));
  EXPECT_EQ(ask(request, "HTTP_X_A"), "2");
  EXPECT_STREQ(request.log()->pszTarget, "/c");

  // So too among many headers, which are looked up otherwise, and again after them.
  field_list many = {{"cs-uri-stem", "/d"}};
  for (int i = 0; i < 40; ++i) many.push_back({"cs(x-" + std::to_string(i % 30) + ")", std::to_string(i)});
  ASSERT_TRUE(request.fill(entry_of(many), problem));
  EXPECT_EQ(ask(request, "HTTP_X_29"), "29");
  EXPECT_EQ(ask(request, "HTTP_X_3"), "3");
  field_list next = {{"cs-uri-stem", "/e"}};
  for (int i = 0; i < 20; ++i) next.push_back({"cs(x-" + std::to_string(i) + ")", "n" + std::to_string(i)});
  ASSERT_TRUE(request.fill(entry_of(next), problem));
  EXPECT_EQ(ask(request, "HTTP_X_19"), "n19");
  EXPECT_EQ(ask(request, "HTTP_X_29"), "<FALSE>");
}

TEST(get_server_variable, size_is_in_and_out) {
  auto request = request_of({{"cs-uri-stem", "/abcd"}});  // 5 bytes and the NUL
  HTTP_FILTER_CONTEXT* context = request->context();
  char name[] = "URL";
  char buffer[16];

  struct size_case {
    DWORD in;
    BOOL result;
    DWORD out;
  };
  for (const size_case& c : {size_case{16, TRUE, 6}, size_case{6, TRUE, 6}, size_case{5, FALSE, 6},
                             size_case{0, FALSE, 6}}) {
    std::memset(buffer, 'x', sizeof buffer);
    DWORD size = c.in;
    EXPECT_EQ(context->GetServerVariable(context, name, buffer, &size), c.result) << c.in;
    EXPECT_EQ(size, c.out) << c.in;
    if (c.result) EXPECT_STREQ(buffer, "/abcd");
    else EXPECT_EQ(buffer[0], 'x') << "nothing written when it does not fit";
  }
}

TEST(get_server_variable, a_value_of_2048_bytes_does_not_fit_the_modules_buffer) {
  auto fits = request_of({{"cs(referer)", std::string(2047, 'r')}});
  auto too_long = request_of({{"cs(referer)", std::string(2048, 'r')}});
  EXPECT_EQ(ask(*fits, "HTTP_REFERER").size(), 2047u);
  EXPECT_EQ(ask(*too_long, "HTTP_REFERER"), "<FALSE>");
}

TEST(get_server_variable, refuses_null_arguments) {
  auto request = request_of({{"cs-uri-stem", "/"}});
  HTTP_FILTER_CONTEXT* context = request->context();
  char name[] = "URL";
  char buffer[8];
  DWORD size = sizeof buffer;
  EXPECT_FALSE(context->GetServerVariable(context, nullptr, buffer, &size));
  EXPECT_FALSE(context->GetServerVariable(context, name, buffer, nullptr));
  EXPECT_FALSE(context->GetServerVariable(nullptr, name, buffer, &size));
  size = sizeof buffer;
  EXPECT_FALSE(context->GetServerVariable(context, name, nullptr, &size));
  EXPECT_EQ(size, 2u);
}

TEST(header_variable_name, follows_the_web_servers_naming) {
  EXPECT_EQ(header_variable_name("cs(user-agent)"), "HTTP_USER_AGENT");
  EXPECT_EQ(header_variable_name("cs(X-Custom-Id)"), "HTTP_X_CUSTOM_ID");
  EXPECT_EQ(header_variable_name("sc(content-type)"), "");
  EXPECT_EQ(header_variable_name("cs-host"), "");
  EXPECT_EQ(header_variable_name("cs()"), "");
}

}  // namespace
