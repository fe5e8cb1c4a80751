// Script code that tries to run off its state's stack or past its end: the
// module is loaded and notified from threads of 256 KiB, as IIS's are.
#include <functional>

#include "filter_fixture.h"
#include "platform/thread.h"

namespace {

void on_request_thread(const std::function<void()>& work) {
  platform::thread_handle thread = platform::start_thread(
      [](void* w) noexcept { (*static_cast<const std::function<void()>*>(w))(); },
      const_cast<std::function<void()>*>(&work), 256 * 1024);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(platform::wait_thread(thread));
  EXPECT_TRUE(platform::close_thread(thread));
}

// Keeps one finalisable object pending at all times, and makes every
// allocation finish a collection cycle. The main chunk's call ends with two;
// the next, when the load sets quillharbor_counters, runs `armed`.
const char* const finaliser_at_load = R"(
armed = nil
local meta, runs = nil, 0
local function pending() getmetatable(newproxy(true)).__gc = meta end
meta = function()
  pending()
  if armed then runs = runs + 1; if runs == 3 then armed() end end
end
pending()
collectgarbage('setpause', 0)
collectgarbage('setstepmul', 1000000)
for i = 1, 10000 do local _ = {} end  -- ends the cycle that began before the pause was set
function on_init() armed = nil; return matched end
function on_term() return true end
)";

struct load_case {
  const char* name;
  const char* armed;
  BOOL loaded;
  unsigned int event;
  const char* text;  // what the event holds
};

const load_case load_cases[] = {
    // Off the state's stack, this match overran the request thread's.
    {"deep match", "armed = function() matched = string.find(string.rep('a', 5000), string.rep('a?', 5000)) == 1 end",
     TRUE, 1, "quillharbor loaded successfully"},
    {"raising", "armed = function() error('finaliser failed', 0) end", FALSE, 8,
     "quillharbor failed to load (script on_init() error) code:2 message:finaliser failed"},
};

using stack_escape_test = filter_fixture;

TEST_F(stack_escape_test, finalisers_run_by_the_load_run_on_the_state_stack_and_fail_as_script_errors) {
  for (const load_case& c : load_cases) {
    SCOPED_TRACE(c.name);
    BOOL loaded = FALSE;
    on_request_thread([&] { loaded = load(std::string(finaliser_at_load) + c.armed); });
    EXPECT_EQ(loaded, c.loaded);
    ASSERT_FALSE(events().empty());
    EXPECT_EQ(events().back().identifier, c.event);
    EXPECT_EQ(events().back().text, c.text);
    if (loaded) {
      on_request_thread([&] { EXPECT_EQ(module->terminate_filter(0), TRUE); });
    }
    module.reset();
  }
}

// The deepest match the guard allows, made to fail at its last level so that
// xpcall's handler runs with the whole recursion on the stack; there, each
// re-entry the interpreter allows is taken as deep as it lets a script.
const char* const below_a_match = R"(
local a = string.rep('a', 100000)
local function allowed(n)
  local _, e = pcall(string.find, a, string.rep('a?', n - 1) .. 'a%')
  return e:find('malformed') ~= nil
end
local function deepest()
  local low, high = 1, 100000
  while low < high do
    local middle = math.floor((low + high + 1) / 2)
    if allowed(middle) then low = middle else high = middle - 1 end
  end
  return low
end
local function at_the_bottom(f)
  xpcall(function() string.find(a, string.rep('a?', deepest() - 1) .. 'a%') end, f)
end
local function nest(enter) local function r() enter(r) end return r end
local re_entries = {
  gsub = nest(function(r) string.gsub('x', 'x', r) end),
  sort = nest(function(r) table.sort({2, 1}, function(x, y) r(); return x < y end) end),
  pcall = nest(function(r) pcall(r) end),
  tostring = nest(function(r) tostring(setmetatable({}, {__tostring = function() r(); return '' end})) end),
  index = nest(function(r) local _ = setmetatable({}, {__index = function() r() end}).x end),
  load = nest(function(r) local done; load(function() if not done then done = true; r(); return 'return' end end) end),
  wrap = nest(function(r) coroutine.wrap(r)() end),
  resume = nest(function(r) coroutine.resume(coroutine.create(r)) end),
  handler = nest(function(r) xpcall(error, r) end),
  hook = nest(function(r) debug.sethook(function() debug.sethook(); r() end, '', 1); local _ = 1 end),
  finaliser = nest(function(r) getmetatable(newproxy(true)).__gc = r; collectgarbage() end),
  -- The trick of the hostile report: handlers on handlers, then gsub 150 deep.
  handlers_then_gsub = function()
    local times = 0
    local function again()
      times = times + 1
      if times < 22 then at_the_bottom(again) else
        local k = 0
        local function down() k = k + 1; if k < 150 then string.gsub('x', 'x', down) end end
        down()
      end
    end
    at_the_bottom(again)
  end,
}
function on_init() return true end
function on_enqueue(h)
  local case = enqueue_context.new(h):server_variable('CASE')
  at_the_bottom(function() pcall(re_entries[case]) end)
  return true, {case = case}
end
function on_dequeue(f) ndebug('served ' .. f.case) end
function on_term() return true end
)";

TEST_F(stack_escape_test, nothing_run_below_a_full_depth_match_overruns_the_state_stack) {
#if defined(__SANITIZE_THREAD__)
  // Its instrumentation makes frames several times what the reserve counts on.
  GTEST_SKIP() << "frames under ThreadSanitizer outgrow the stack reserve";
#endif
  BOOL loaded = FALSE;
  on_request_thread([&] { loaded = load(below_a_match); });
  ASSERT_EQ(loaded, TRUE);
  std::vector<std::string> expected;
  for (const char* c : {"gsub", "sort", "pcall", "tostring", "index", "load", "wrap", "resume", "handler", "hook",
                        "finaliser", "handlers_then_gsub"}) {
    on_request_thread([&] {
      fake_request request;
      request.set_variable("CASE", c);
      EXPECT_EQ(notify(request), static_cast<DWORD>(SF_STATUS_REQ_NEXT_NOTIFICATION)) << c;
    });
    expected.push_back(std::string("served ") + c);
  }
  on_request_thread([&] { EXPECT_EQ(module->terminate_filter(0), TRUE); });
  EXPECT_EQ(traces(), expected);
}

}  // namespace
