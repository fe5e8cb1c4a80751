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

}  // namespace
