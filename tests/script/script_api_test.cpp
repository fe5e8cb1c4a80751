#include "script/script_api.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include "platform/uuid.h"
#include "script/callbacks.h"
#include "script/server_variable.h"
#include "script_fixture.h"

namespace {

bool ends_with(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// ndebug ------------------------------------------------------------------

struct trace_case {
  const char* call;
  const char* text;
};

class ndebug_writes : public testing::TestWithParam<trace_case> {};

TEST_P(ndebug_writes, one_line_of_its_argument) {
  opened_script s("");
  const trace_capture trace;
  EXPECT_EQ(s.eval(GetParam().call), "nil");
  EXPECT_EQ(trace.texts(), std::vector<std::string>{GetParam().text});
}

INSTANTIATE_TEST_SUITE_P(
    script, ndebug_writes,
    testing::Values(trace_case{"ndebug('hello')", "hello"}, trace_case{"ndebug(42)", "42"},
                    trace_case{"ndebug(1.5)", "1.5"}, trace_case{"ndebug('a\\0b')", "a"},
                    trace_case{"ndebug('')", ""}, trace_case{"ndebug('x', 'ignored')", "x"}));

TEST(ndebug, refuses_what_is_not_a_string_or_number) {
  opened_script s("");
  const trace_capture trace;
  EXPECT_TRUE(ends_with(s.eval("ndebug()"),
                        ":1: bad argument #1 to 'ndebug' (string expected, got no value)"));
  EXPECT_TRUE(ends_with(s.eval("ndebug({})"),
                        ":1: bad argument #1 to 'ndebug' (string expected, got table)"));
  EXPECT_TRUE(trace.texts().empty());
}

// uuid --------------------------------------------------------------------

void expect_version_4_text(const std::string& text) {
  ASSERT_EQ(text.size(), 32u) << text;
  EXPECT_EQ(text.find_first_not_of("0123456789abcdef"), std::string::npos) << text;
  EXPECT_EQ(text[12], '4') << text;
  EXPECT_NE(std::string("89ab").find(text[16]), std::string::npos) << text;
}

TEST(uuid, gives_32_lowercase_hex_digits_and_new_ones_each_call) {
  opened_script s("");
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    const std::string text = s.eval("return uuid('ignored', 1)");
    expect_version_4_text(text);
    seen.insert(text);
  }
  EXPECT_EQ(seen.size(), 100u);
}

TEST(uuid, new_uuid_string_matches_the_fields) {
  expect_version_4_text(new_uuid_string());
  platform::uuid_fields id{};
  ASSERT_TRUE(platform::create_uuid(id));
  EXPECT_EQ(id.data3 >> 12, 4);
  EXPECT_EQ(id.data4[0] >> 6, 2);
}

// enqueue_context ---------------------------------------------------------

// Runs `body` inside on_enqueue with `ctx` made from the handle; the result
// (or "error: " and the message) is left in the global `answer`.
std::string on_request(fake_server& server, const std::string& body) {
  opened_script s(
      "function on_enqueue(h)\n"
      "  local ok, r = pcall(function() local ctx = enqueue_context.new(h)\n" +
      body +
      "\n  end)\n"
      "  answer = ok and tostring(r) or 'error: ' .. tostring(r)\n"
      "  return false\n"
      "end\n");
  record* out = nullptr;
  EXPECT_FALSE(run_on_enqueue(s.state(), &server.handle, out));
  return s.eval("return answer");
}

struct request_case {
  const char* body;
  const char* answer;
};

class request_reads : public testing::TestWithParam<request_case> {};

TEST_P(request_reads, as_expected) {
  fake_server server;
  server.log.dwHttpStatus = 200;
  server.log.dwWin32Status = 4294967295u;
  server.log.dwBytesSent = 0;
  server.log.dwBytesRecvd = 1234567;
  server.log.msTimeForProcessing = 15;
  server.variables = {{"SERVER_NAME", "example"},
                      {"5", "five"},
                      {"WITH_NUL", std::string("left\0right", 10)},
                      {"LONGEST", std::string(2047, 'v')},
                      {"TOO_LONG", std::string(2048, 'v')},
                      {"EMPTY", ""}};
  const std::string answer = on_request(server, GetParam().body);
  const std::string expected = GetParam().answer;
  if (expected.rfind("error: ", 0) == 0) {
    // Raised from script code, the message starts with the script's position.
    EXPECT_TRUE(ends_with(answer, expected.substr(7))) << answer;
  } else {
    EXPECT_EQ(answer, expected);
  }
}

INSTANTIATE_TEST_SUITE_P(fields, request_reads,
                         testing::Values(request_case{"return ctx:http_status()", "200"},
                                         request_case{"return ctx:win32_status()", "4294967295"},
                                         request_case{"return ctx:bytes_sent()", "0"},
                                         request_case{"return ctx:bytes_recvd()", "1234567"},
                                         request_case{"return ctx:process_time()", "15"},
                                         request_case{"return type(ctx:http_status())", "number"},
                                         request_case{"return table.concat({quillharbor_log_numbers(ctx)}, '|')",
                                                      "200|4294967295|0|1234567|15"}));

INSTANTIATE_TEST_SUITE_P(
    server_variables, request_reads,
    testing::Values(request_case{"return ctx:server_variable('SERVER_NAME')", "example"},
                    request_case{"return '[' .. ctx:server_variable('NO_SUCH_VARIABLE') .. ']'",
                                 "[]"},
                    request_case{"return ctx:server_variable(5)", "five"},
                    request_case{"return ctx:server_variable('SERVER_NAME\\0junk')", "example"},
                    request_case{"return ctx:server_variable('WITH_NUL')", "left"},
                    request_case{"return #ctx:server_variable('LONGEST')", "2047"},
                    request_case{"return '[' .. ctx:server_variable('TOO_LONG') .. ']'", "[]"},
                    request_case{"return '[' .. ctx:server_variable('EMPTY') .. ']'", "[]"}));

INSTANTIATE_TEST_SUITE_P(
    argument_errors, request_reads,
    testing::Values(
        request_case{"return ctx.http_status()",
                     "error: bad argument #1 to 'http_status' (quillharbor.enqueue_context "
                     "expected, got no value)"},
        request_case{"return ctx.bytes_sent({})",
                     "error: bad argument #1 to 'bytes_sent' (quillharbor.enqueue_context "
                     "expected, got table)"},
        request_case{"return ctx:server_variable()",
                     "error: bad argument #1 to 'server_variable' (string expected, got no value)"},
        request_case{"return ctx:server_variable({})",
                     "error: bad argument #1 to 'server_variable' (string expected, got table)"},
        request_case{"return quillharbor_log_numbers(io.stdout)",
                     "error: bad argument #1 to 'quillharbor_log_numbers' "
                     "(quillharbor.enqueue_context expected, got userdata)"}));

// Several names at once: one value for each, in order; a bad name anywhere
// fails the call with its own argument number.
INSTANTIATE_TEST_SUITE_P(
    several_server_variables, request_reads,
    testing::Values(
        request_case{"return table.concat({ctx:server_variable('SERVER_NAME', 5, 'EMPTY', "
                     "'NO_SUCH_VARIABLE', 'WITH_NUL')}, '|')",
                     "example|five|||left"},
        request_case{"return select('#', ctx:server_variable('SERVER_NAME', 'EMPTY'))", "2"},
        request_case{"return ctx:server_variable('SERVER_NAME', {})",
                     "error: bad argument #2 to 'server_variable' (string expected, got table)"},
        request_case{"return ctx:server_variable('SERVER_NAME', 'EMPTY', nil)",
                     "error: bad argument #3 to 'server_variable' (string expected, got nil)"}));

class new_refuses : public testing::TestWithParam<const char*> {};

TEST_P(new_refuses, what_is_not_a_light_userdata) {
  fake_server server;
  const std::string body = std::string("return enqueue_context.new(") + GetParam() + ")";
  EXPECT_TRUE(ends_with(on_request(server, body),
                        ":3: bad argument #1 to 'new' ('handle to enqueue_context' expected)"));
}

INSTANTIATE_TEST_SUITE_P(script, new_refuses,
                         testing::Values("", "nil", "5", "'text'", "{}", "true", "print",
                                         "newproxy()", "io.stdout", "ctx"));

TEST(server_variable, never_reads_past_a_buffer_left_without_nul) {
  fake_server server;
  server.fills_without_nul = true;
  EXPECT_EQ(on_request(server, "return #ctx:server_variable('ANY')"), "2048");
  EXPECT_EQ(get_server_variable(&server.context, "ANY"), std::string(2048, 'x'));
}

TEST(server_variable, asks_once_with_the_name_and_gives_empty_on_refusal) {
  fake_server server;
  server.variables = {{"HTTP_HOST", "h"}, {"BIG", std::string(5000, 'b')}};
  EXPECT_EQ(get_server_variable(&server.context, "HTTP_HOST"), "h");
  EXPECT_EQ(get_server_variable(&server.context, "BIG"), "");
  EXPECT_EQ(get_server_variable(&server.context, "NONE"), "");
  EXPECT_EQ(get_server_variable(nullptr, "HTTP_HOST"), "");
  EXPECT_EQ(server.asked, (std::vector<std::string>{"HTTP_HOST", "BIG", "NONE"}));
}

TEST(enqueue_context, is_unusable_outside_on_enqueue) {
  opened_script s("");
  EXPECT_EQ(s.eval("return select(2, pcall(enqueue_context.new, nil))"),
            "bad argument #1 to '?' ('handle to enqueue_context' expected)");
  // No request is live in the main chunk or the main state's callbacks.
  EXPECT_EQ(s.eval("local mt = debug.getregistry()['quillharbor.enqueue_context']\n"
                   "local fake = newproxy(true)\n"
                   "return select(2, pcall(mt.http_status, fake))"),
            "bad argument #1 to '?' (quillharbor.enqueue_context expected, got userdata)");
}

}  // namespace
