// The replay's UNICODE_ variables and the last error of its FALSE answers.
#include <gtest/gtest.h>

#include <string>

#include "host/replay_request.h"
#include "platform/last_error.h"

namespace {

TEST(replay_request, answers_unicode_variables_in_utf16_with_the_errors_of_iis) {
  log_entry entry;
  entry.fields = {{"cs-uri-stem", "/caf\xC3\xA9"}, {"cs-uri-query", "q=1"}, {"cs-username", "DOM\\J\xC3\xB6rg"}};
  std::string problem;
  auto request = replay_request::from_entry(entry, problem);
  ASSERT_TRUE(request) << problem;
  HTTP_FILTER_CONTEXT* context = request->context();

  const std::string cafe("/\0c\0a\0f\0\xE9\0\0\0", 12);
  const std::string jorg("D\0O\0M\0\\\0J\0\xF6\0r\0g\0\0\0", 18);
  const struct {
    const char* name;
    std::string answer;  // with its terminator
  } cases[] = {
      {"UNICODE_URL", cafe}, {"unicode_path_info", cafe}, {"UNICODE_REMOTE_USER", jorg},
      {"UNICODE_AUTH_USER", jorg}, {"UNICODE_LOGON_USER", jorg}, {"URL", std::string("/caf\xC3\xA9", 7)},
  };
  for (const auto& c : cases) {
    char buffer[64];
    DWORD size = 3;
    platform::set_last_error_no_such_variable();
    EXPECT_FALSE(context->GetServerVariable(context, const_cast<LPSTR>(c.name), buffer, &size)) << c.name;
    EXPECT_TRUE(platform::last_error_is_buffer_too_small()) << c.name;
    EXPECT_EQ(size, c.answer.size()) << c.name;
    EXPECT_TRUE(context->GetServerVariable(context, const_cast<LPSTR>(c.name), buffer, &size)) << c.name;
    EXPECT_EQ(std::string(buffer, size), c.answer) << c.name;
  }
  DWORD size = 64;
  char buffer[64];
  platform::set_last_error_buffer_too_small();
  EXPECT_FALSE(context->GetServerVariable(context, const_cast<LPSTR>("UNICODE_NO_SUCH"), buffer, &size));
  EXPECT_FALSE(platform::last_error_is_buffer_too_small());
}

}  // namespace
