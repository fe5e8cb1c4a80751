// Scripts that need more C stack than a web server's request thread has: the
// module is loaded, notified and unloaded from threads of 256 KiB, as IIS's
// are. Each case ends in its one trace line, and the filter serves the next
// notification.
#include <algorithm>
#include <functional>

#include "filter_fixture.h"
#include "platform/thread.h"

namespace {

constexpr std::size_t request_stack = 256 * 1024;

void on_small_stack(const std::function<void()>& work) {
  platform::thread_handle thread = platform::start_thread(
      [](void* w) noexcept { (*static_cast<const std::function<void()>*>(w))(); },
      const_cast<std::function<void()>*>(&work), request_stack);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(platform::wait_thread(thread));
  EXPECT_TRUE(platform::close_thread(thread));
}

const char* const script = R"(
local function recurse(s) return (('x' .. s):gsub('.', recurse)) end
local function deep(s) return (s:gsub(string.rep('a?', 5000) .. 'x', deep)) end
local a = string.rep('a', 100000)
hostile = {
  gsub_recursion = function() recurse('x') end,
  gsub_recursion_with_patterns = function() deep('x') end,
  pattern_5000 = function() assert(string.find(a, string.rep('a?', 5000)) == 1) end,
  pattern_100000 = function() string.find(a, string.rep('a?', 100000)) end,
  method_100000 = function() a:match(string.rep('a?', 100000)) end,
  gmatch_100000 = function() for m in a:gmatch(string.rep('a-', 100000)) do end end,
  gsub_100000 = function() a:gsub(string.rep('a*', 100000), '') end,
  nested_code = function() error(select(2, loadstring(string.rep('(', 100000) .. '1')), 0) end,
}
function on_init() return true end
function on_enqueue(h)
  local c = enqueue_context.new(h)
  local where, case = c:server_variable('WHERE'), c:server_variable('CASE')
  if where == 'enqueue' then hostile[case]() end
  return true, {where = where, case = case}
end
function on_dequeue(f, n)
  if f.where == 'dequeue' then hostile[f.case]() end
  ndebug('served ' .. f.where .. ' ' .. f.case)
end
function on_term() return true end
)";

struct stack_case {
  const char* name;
  const char* outcome;  // what the trace line holds after the callback's prefix
};

const stack_case cases[] = {
    {"gsub_recursion", "C stack overflow"},
    {"gsub_recursion_with_patterns", "C stack overflow"},
    {"pattern_5000", ""},
    {"pattern_100000", "pattern too complex for the stack"},
    {"method_100000", "pattern too complex for the stack"},
    {"gmatch_100000", "pattern too complex for the stack"},
    {"gsub_100000", "pattern too complex for the stack"},
    {"nested_code", "chunk has too many syntax levels"},
};

using small_stack_test = filter_fixture;

TEST_F(small_stack_test, hostile_scripts_end_in_a_trace_line_on_request_threads_and_the_worker) {
  BOOL loaded = FALSE;
  on_small_stack([&] { loaded = load(script, 2); });
  ASSERT_EQ(loaded, TRUE);
  std::vector<std::string> expected;
  for (const char* where : {"enqueue", "dequeue"}) {
    for (const stack_case& c : cases) {
      on_small_stack([&] {
        fake_request hostile;
        hostile.set_variable("WHERE", where);
        hostile.set_variable("CASE", c.name);
        EXPECT_EQ(notify(hostile), static_cast<DWORD>(SF_STATUS_REQ_NEXT_NOTIFICATION));
        fake_request plain;
        EXPECT_EQ(notify(plain), static_cast<DWORD>(SF_STATUS_REQ_NEXT_NOTIFICATION));
      });
      const std::string outcome = c.outcome;
      if (outcome.empty()) {
        expected.push_back(std::string("served ") + where + " " + c.name);
      } else {
        expected.push_back(std::string("error: on_") + where + " code:2 message:" + outcome);
      }
      expected.push_back("served  ");
    }
  }
  BOOL unloaded = FALSE;
  on_small_stack([&] { unloaded = module->terminate_filter(0); });
  EXPECT_EQ(unloaded, TRUE);
  // Messages may carry the script's position: keep the outcome alone.
  std::vector<std::string> lines = traces();
  for (std::string& line : lines) {
    for (const stack_case& c : cases) {
      const auto message = line.find("message:");
      if (*c.outcome != '\0' && message != std::string::npos && line.find(c.outcome) != std::string::npos)
        line = line.substr(0, message + 8) + c.outcome;
    }
  }
  std::sort(lines.begin(), lines.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(lines, expected);
}

}  // namespace
