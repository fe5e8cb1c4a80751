// Ways out of the time limit that a script might try: an error handler or a
// finalizer, both of which Lua runs with hooks off, and a large script whose
// reading and compiling must not count against its main chunk.
#include <algorithm>
#include <chrono>
#include <sstream>
#include <thread>

#include "tests/filter/filter_fixture.h"

namespace {

const char* const fragments = R"(
function spin() while true do end end
function on_init() return true end
function on_enqueue(h) return true, {} end
function on_dequeue(f, n) ndebug("dequeued " .. n) end
function on_term() return true end
)";

class time_escape_test : public filter_fixture {
 protected:
  BOOL load_limited(const std::string& script, const char* time_limit = "100") {
    const auto script_path = dir.write("script.lua", script);
    std::ostringstream text;
    text << "<setting><queue process_interval='0'/><script path='" << script_path.string()
         << "' pool_size='1' time_limit='" << time_limit << "'/></setting>\n";
    dir.write("quillharbor.setting", text.str());
    return load_with_settings_only();
  }

  // Waits for a trace line holding `text`, for at most 20 s.
  bool traced(const std::string& text) const {
    for (int i = 0; i < 2000; ++i) {
      const auto all = traces();
      if (std::any_of(all.begin(), all.end(),
                      [&](const std::string& t) { return t.find(text) != std::string::npos; }))
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  fake_request request;
};

struct escape_case {
  const char* name;
  const char* script;   // tries once, in one place, to run for ever
  BOOL loads;
  const char* stopped;  // in the trace line of the failed callback (or the event of the load)
};

class escape_test : public time_escape_test, public ::testing::WithParamInterface<escape_case> {};

TEST_P(escape_test, ends_at_the_time_limit_and_the_filter_goes_on) {
  const escape_case& c = GetParam();
  const BOOL loaded = load_limited(std::string(fragments) + c.script);
  ASSERT_EQ(loaded, c.loads);
  if (!loaded) {
    ASSERT_EQ(events().size(), 1u);
    EXPECT_EQ(events()[0].identifier, 4u);  // the main state's main chunk failed
    return;
  }
  notify(request);
  notify(request);
  EXPECT_TRUE(traced("dequeued 1"));  // the second record goes through whatever the first did
  EXPECT_EQ(module->terminate_filter(0), TRUE);  // closing the states runs no endless finalizer
  EXPECT_TRUE(traced(c.stopped));
}

INSTANTIATE_TEST_SUITE_P(
    ways_out, escape_test,
    ::testing::Values(
        escape_case{"an_endless_handler_in_on_enqueue",
                    "local first = true\n"
                    "function on_enqueue(h) if first then first = false xpcall(spin, spin) end "
                    "return true, {} end\n"
                    "function on_dequeue(f, n) ndebug('dequeued ' .. (n + 1)) end",
                    TRUE, "time limit exceeded"},
        // The handler runs for an ordinary error with hooks on; the limit's
        // error inside it calls it again, with hooks off.
        escape_case{"an_endless_handler_of_an_ordinary_error_in_on_dequeue",
                    "function on_dequeue(f, n) if n == 0 then xpcall(error, spin) end "
                    "ndebug('dequeued ' .. n) end",
                    TRUE, "error: on_dequeue code:2 message:"},
        escape_case{"an_endless_handler_in_a_coroutine",
                    "function on_dequeue(f, n) if n == 0 then "
                    "coroutine.resume(coroutine.create(function() xpcall(spin, spin) end)) end "
                    "ndebug('dequeued ' .. n) end",
                    TRUE, "time limit exceeded"},
        escape_case{"a_caught_stop_in_a_loop_of_handlers",
                    "function on_dequeue(f, n) while n == 0 do xpcall(spin, function() "
                    "pcall(spin) end) end ndebug('dequeued ' .. n) end",
                    TRUE, "time limit exceeded"},
        escape_case{"an_endless_handler_in_the_main_chunk", "xpcall(spin, spin)", FALSE, ""},
        // Script finalizers run with hooks off: one that loops would hold the
        // request thread, or lua_close at unload, for good.
        escape_case{"an_endless_finalizer_of_a_proxy_in_on_enqueue",
                    "local first = true\n"
                    "function on_enqueue(h) if first then first = false "
                    "getmetatable(newproxy(true)).__gc = spin collectgarbage() end "
                    "return true, {} end\n"
                    "function on_dequeue(f, n) ndebug('dequeued ' .. (n + 1)) end",
                    TRUE, "newproxy with a metatable is not available under time_limit"},
        escape_case{"an_endless_finalizer_of_a_global_proxy_at_unload",
                    "function on_dequeue(f, n) if n == 0 then kept = newproxy(true) "
                    "getmetatable(kept).__gc = spin end ndebug('dequeued ' .. n) end",
                    TRUE, "newproxy with a metatable is not available under time_limit"},
        escape_case{"an_endless_finalizer_of_every_file",
                    "function on_dequeue(f, n) if n == 0 then getmetatable(io.stdout).__gc = spin "
                    "end ndebug('dequeued ' .. n) end",
                    TRUE, "attempt to index a nil value"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(time_escape_test, protected_calls_and_handlers_work_as_before_within_the_limit) {
  ASSERT_EQ(load_limited(std::string(fragments) + R"(
function on_dequeue(f, n)
  local ok, m = xpcall(function() error("x", 0) end, function(e) return "handled " .. e end)
  local fine, a, b = pcall(function(x) return x, 2 end, 1)
  local alive, y = coroutine.resume(coroutine.create(function(v) return v + 1 end), 41)
  local dead, why = coroutine.resume(coroutine.create(function() error("y", 0) end))
  ndebug(table.concat({tostring(ok), m, tostring(fine), a, b, tostring(alive), y, tostring(dead), why,
                       type(newproxy()), tostring(getmetatable(io.stdout)), type(getmetatable(""))}, " "))
end)"),
            TRUE);
  notify(request);
  EXPECT_TRUE(traced("false handled x true 1 2 true 42 false y userdata nil table"));
  EXPECT_EQ(module->terminate_filter(0), TRUE);
}

TEST_F(time_escape_test, reading_and_compiling_a_large_script_do_not_count) {
  // Some 2 MB that compile for far longer than the limit, in a function that
  // never runs; the main chunk itself runs for microseconds.
  std::string script = std::string(fragments) + "for i = 1, 3000 do end\nlocal function unused()\n";
  const std::string line = "a = 1\n";
  while (script.size() < (2u << 20)) script += line;
  script += "end\n";
  EXPECT_EQ(load_limited(script, "20"), TRUE);
  EXPECT_EQ(module->terminate_filter(0), TRUE);
}

// The deadline belongs to the state: a thread must be done with it before the
// state goes back to the pool (ThreadSanitizer sees the race otherwise).
TEST_F(time_escape_test, request_threads_hand_one_pool_state_on_under_the_limit) {
  ASSERT_EQ(load_limited(std::string(fragments) + "function on_dequeue(f, n) if n == 399 then ndebug('all') end end"),
            TRUE);
  auto notify_200 = [this] {
    fake_request own;
    for (int i = 0; i < 200; ++i) notify(own);
  };
  std::thread first(notify_200);
  std::thread second(notify_200);
  first.join();
  second.join();
  EXPECT_TRUE(traced("all"));
  EXPECT_EQ(module->terminate_filter(0), TRUE);
}

}  // namespace
