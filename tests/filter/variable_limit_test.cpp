// The variable limit through the loaded module: a long value whole, one beyond
// the limit counted on the unload's counters line and in quillharbor_counters().
#include <string>

#include "filter_fixture.h"

namespace {

const char* const script = R"(
function on_init() return true end
function on_enqueue(h)
  local c = enqueue_context.new(h)
  return true, {n = #c:server_variable('HTTP_COOKIE'), url = c:server_variable('UNICODE_URL')}
end
function on_dequeue(f) ndebug('cookie ' .. f.n .. ' url ' .. f.url) end
function on_term()
  ndebug('over ' .. quillharbor_counters().over_variable_limit)
  return true
end
)";

class variable_limit_test : public filter_fixture {};

TEST_F(variable_limit_test, reads_long_values_whole_and_counts_those_beyond) {
  const auto script_path = dir.write("script.lua", script);
  dir.write("quillharbor.setting", "<setting><script path='" + script_path.string() +
                                       "' pool_size='1' variable_limit='4096'/></setting>");
  ASSERT_EQ(load_with_settings_only(), TRUE);
  fake_request request;
  request.set_variable("UNICODE_URL", std::string("/\0\xE9\0", 4));
  for (std::size_t size : {3000u, 4095u, 4096u}) {
    request.set_variable("HTTP_COOKIE", std::string(size, 'c'));
    notify(request);
  }
  EXPECT_EQ(module->terminate_filter(0), TRUE);
  const auto lines = traces();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "cookie 3000 url /\xC3\xA9");
  EXPECT_EQ(lines[1], "cookie 4095 url /\xC3\xA9");
  EXPECT_EQ(lines[2], "cookie 0 url /\xC3\xA9");
  EXPECT_EQ(lines[3], "over 1");
  EXPECT_EQ(lines[4].rfind("counters: queued:3 dequeued:3 ", 0), 0u) << lines[4];
  const std::string last = " over_variable_limit:1";
  EXPECT_EQ(lines[4].substr(lines[4].size() - last.size()), last) << lines[4];
}

}  // namespace
