// The production settings through the loaded module: queue limit, drain
// limit, time limit, trace file and counters.
#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/filter/filter_fixture.h"

#if defined(_WIN32)
#  include <windows.h>
#  include <psapi.h>
#endif

namespace {

#if defined(QUILLHARBOR_FEWER_NOTIFICATIONS)
constexpr long notifications = 100000;
#else
constexpr long notifications = 1000000;
#endif

// Resident bytes of this process.
long long resident_bytes() {
#if defined(_WIN32)
  PROCESS_MEMORY_COUNTERS counters{};
  K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return static_cast<long long>(counters.WorkingSetSize);
#else
  std::ifstream statm("/proc/self/statm");
  long long pages = 0;
  long long resident = 0;
  statm >> pages >> resident;
  return resident * 4096;
#endif
}

struct production {
  std::string queue;   // attributes of <queue>
  std::string script;  // attributes of <script> besides the path
  std::string trace;   // a whole <trace/> element, or nothing
};

// Every callback traces what it does; on_term reports quillharbor_counters().
const char* const counting_script = R"(
function on_init() return true end
function on_enqueue(h) return true, {} end
function on_dequeue(f, n) ndebug("dequeued " .. n) end
function on_term()
  local c = quillharbor_counters()
  ndebug(string.format("on_term queued=%d dequeued=%d by_limit=%d at_unload=%d deepest=%d",
                       c.queued, c.dequeued, c.dropped_by_limit, c.dropped_at_unload, c.deepest))
  return true
end
)";

class operations_test : public filter_fixture {
 protected:
  BOOL load_with(const std::string& script, const production& settings, int process_interval = 0) {
    const auto script_path = dir.write("script.lua", script);
    std::ostringstream text;
    text << "<setting>\n  <queue process_interval='" << process_interval << "' " << settings.queue
         << "/>\n  <script path='" << script_path.string() << "' pool_size='1' " << settings.script
         << "/>\n  " << settings.trace << "\n</setting>\n";
    dir.write("quillharbor.setting", text.str());
    return load_with_settings_only();
  }

  // Waits for a trace line, for at most 20 s.
  bool traced(const std::string& text) const {
    for (int i = 0; i < 2000; ++i) {
      const auto all = traces();
      if (std::find(all.begin(), all.end(), text) != all.end()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  long count_starting(const std::string& prefix) const {
    const auto all = traces();
    return std::count_if(all.begin(), all.end(),
                         [&](const std::string& t) { return t.rfind(prefix, 0) == 0; });
  }

  fake_request request;
};

#if defined(__SANITIZE_ADDRESS__)
constexpr bool freed_blocks_stay_resident = true;  // the sanitizer's quarantine keeps them
#else
constexpr bool freed_blocks_stay_resident = false;
#endif

// The worker is held in an hour's pause after record 0, so every count is exact.
TEST_F(operations_test, a_queue_limit_bounds_memory_and_counts_every_drop) {
  constexpr long limit = 1000;
  ASSERT_EQ(load_with(counting_script, {"limit='1000' drain_limit='1'", "", ""}, 3600000), TRUE);
  notify(request);
  ASSERT_TRUE(traced("dequeued 0"));
  for (long i = 0; i < limit; ++i) notify(request);
  const long long before = resident_bytes();
  for (long i = limit; i < notifications; ++i) notify(request);
  const long long grown = resident_bytes() - before;
  EXPECT_EQ(module->terminate_filter(0), TRUE);

  const long dropped = notifications - limit;
  if (!freed_blocks_stay_resident) {
    EXPECT_LT(grown, 8ll << 20) << "unbounded, this would be some 100 bytes per notification";
  }
  EXPECT_EQ(traces()[1], "error: queue message:limit 1000 reached, 1 records dropped so far");
  EXPECT_GE(count_starting("error: queue"), 1);  // one more per 10 s of dropping
  EXPECT_EQ(count_starting("dequeued"), 1);
  EXPECT_TRUE(traced("error: worker message:drain limit 1 ms reached, 1000 queued records dropped"));
  EXPECT_TRUE(traced("on_term queued=1001 dequeued=1 by_limit=" + std::to_string(dropped) +
                     " at_unload=1000 deepest=1000"));
  EXPECT_EQ(traces().back(), "counters: queued:1001 dequeued:1 dropped_by_limit:" + std::to_string(dropped) +
                                 " dropped_at_unload:1000 enqueue_failures:0 dequeue_failures:0 deepest:1000");
}

TEST_F(operations_test, a_drain_limit_cuts_a_long_drain_and_on_term_still_runs) {
  ASSERT_EQ(load_with(counting_script, {"drain_limit='200'", "", ""}, 3600000), TRUE);
  notify(request);
  ASSERT_TRUE(traced("dequeued 0"));
  for (int i = 0; i < 5; ++i) notify(request);
  EXPECT_EQ(module->terminate_filter(0), TRUE);  // not an hour later
  EXPECT_EQ(count_starting("dequeued"), 1);
  EXPECT_TRUE(traced("error: worker message:drain limit 200 ms reached, 5 queued records dropped"));
  EXPECT_TRUE(traced("on_term queued=6 dequeued=1 by_limit=0 at_unload=5 deepest=5"));
}

struct endless_case {
  const char* name;
  const char* script;  // loops for ever once, in one place
  BOOL loads;
  BOOL unloads;
  const char* trace_prefix;  // of the line that reports the stop; null: none (on_term's result tells)
};

const char* const endless_fragments = R"(
function on_init() return true end
function on_enqueue(h) return true, {} end
function on_dequeue(f, n) ndebug("dequeued " .. n) end
function on_term() return true end
)";

class endless_loop_test : public operations_test,
                          public ::testing::WithParamInterface<endless_case> {};

TEST_P(endless_loop_test, is_stopped_at_the_time_limit_and_the_filter_goes_on) {
  const endless_case& c = GetParam();
  const BOOL loaded = load_with(std::string(endless_fragments) + c.script, {"", "time_limit='100'", ""});
  ASSERT_EQ(loaded, c.loads);
  if (loaded) {
    notify(request);
    notify(request);
    EXPECT_TRUE(traced("dequeued 1"));  // the second record goes through whatever happened to the first
    EXPECT_EQ(module->terminate_filter(0), c.unloads);
  }
  if (c.trace_prefix == nullptr) return;
  const auto all = traces();
  const auto stop = std::find_if(all.begin(), all.end(), [&](const std::string& t) {
    return t.rfind(c.trace_prefix, 0) == 0 && t.find(": time limit exceeded") != std::string::npos;
  });
  EXPECT_NE(stop, all.end()) << c.trace_prefix;
}

INSTANTIATE_TEST_SUITE_P(
    callbacks, endless_loop_test,
    ::testing::Values(
        endless_case{"on_enqueue",
                     "local first = true\n"
                     "function on_enqueue(h) if first then first = false while true do end end "
                     "return true, {} end\n"
                     "function on_dequeue(f, n) ndebug('dequeued ' .. (n + 1)) end",
                     TRUE, TRUE, "error: on_enqueue code:2 message:"},
        endless_case{"on_dequeue", "function on_dequeue(f, n) if n == 0 then while true do end end "
                                   "ndebug('dequeued ' .. n) end",
                     TRUE, TRUE, "error: on_dequeue code:2 message:"},
        endless_case{"on_dequeue catching the error",
                     "function on_dequeue(f, n) while n == 0 do pcall(function() while true do end end) end "
                     "ndebug('dequeued ' .. n) end",
                     TRUE, TRUE, "error: on_dequeue code:2 message:"},
        endless_case{"on_dequeue in a coroutine of the main chunk",
                     "local spin = coroutine.wrap(function() while true do end end)\n"
                     "function on_dequeue(f, n) if n == 0 then spin() end ndebug('dequeued ' .. n) end",
                     TRUE, TRUE, "error: on_dequeue code:2 message:"},
        endless_case{"on_term", "function on_term() while true do end end", TRUE, FALSE, nullptr},
        endless_case{"on_init", "function on_init() while true do end end", FALSE, FALSE,
                     "quillharbor failed to load (script on_init() error) code:2 message:"}),
    [](const auto& info) {
      std::string name = info.param.name;
      std::replace(name.begin(), name.end(), ' ', '_');
      return name;
    });

TEST_F(operations_test, an_endless_main_chunk_fails_the_load_at_the_time_limit) {
  EXPECT_EQ(load_with(std::string(endless_fragments) + "while true do end", {"", "time_limit='100'", ""}),
            FALSE);
  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(events()[0].identifier, 4u);
}

struct trace_path_case {
  const char* name;
  const char* file;  // under the test's directory
  bool opens;
};

class trace_path_test : public operations_test, public ::testing::WithParamInterface<trace_path_case> {};

TEST_P(trace_path_test, the_load_goes_on_whether_or_not_the_file_opens) {
  const auto path = dir.path() / GetParam().file;
  const std::string script = std::string(counting_script) + "ndebug('chunk')\n";
  ASSERT_EQ(load_with(script, {"", "", "<trace path='" + path.string() + "'/>"}), TRUE);
  notify(request);
  EXPECT_EQ(module->terminate_filter(0), TRUE);

  const auto all = events();
  ASSERT_EQ(all.size(), GetParam().opens ? 1u : 2u);
  EXPECT_EQ(all.back().identifier, 1u);
  if (!GetParam().opens) {
    EXPECT_EQ(all[0].identifier, 20u);
    EXPECT_EQ(all[0].text, "quillharbor cannot open the trace file (" + path.string() + ")");
    return;
  }
  // Every trace line and the event, in order, each after its stamp and thread.
  std::vector<std::string> expected = traces();
  expected.insert(expected.begin() + 2, "event 1 success: quillharbor loaded successfully");
  std::ifstream in(path);
  std::vector<std::string> written;
  for (std::string line; std::getline(in, line);) written.push_back(line.substr(line.find("] ") + 2));
  EXPECT_EQ(written, expected);
  EXPECT_EQ(expected.back().rfind("counters: queued:1 dequeued:1 ", 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(paths, trace_path_test,
                         ::testing::Values(trace_path_case{"writable", "trace.log", true},
                                           trace_path_case{"in_a_missing_folder", "missing/trace.log", false},
                                           trace_path_case{"a_folder", ".", false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
