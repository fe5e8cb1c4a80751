// Scripts that try to bring the web server down, run through the loaded
// module. After each: the process is alive, the entry point gave its
// documented result, and the failure left its one trace line or event.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <future>
#include <map>
#include <sstream>
#include <thread>

#include "tests/reliability/reliability_fixture.h"

namespace {

using hostile_script_test = reliability_fixture;

constexpr char raising_index[] =
    "setmetatable(_G, {__index = function(_, k) error('no global ' .. k, 0) end})";

enum class failing { load, notifications, unload };

struct hostile_case {
  const char* name;
  script_parts script;
  failing where;
  std::string expected;  // event text (load) or each trace line; "~x": contains x
};

bool matches(const std::string& text, const std::string& expected) {
  if (!expected.empty() && expected[0] == '~') return text.find(expected.substr(1)) != std::string::npos;
  return text == expected;
}

script_parts with_chunk(std::string chunk) {
  script_parts parts;
  parts.chunk = std::move(chunk);
  return parts;
}
script_parts with_init(std::string body, std::string chunk = "") {
  script_parts parts = with_chunk(std::move(chunk));
  parts.on_init = std::move(body);
  return parts;
}
script_parts with_enqueue(std::string body, std::string chunk = "") {
  script_parts parts = with_chunk(std::move(chunk));
  parts.on_enqueue = std::move(body);
  return parts;
}
script_parts with_dequeue(std::string body, std::string chunk = "") {
  script_parts parts = with_chunk(std::move(chunk));
  parts.on_dequeue = std::move(body);
  return parts;
}
script_parts with_term(std::string body, std::string chunk = "") {
  script_parts parts = with_chunk(std::move(chunk));
  parts.on_term = std::move(body);
  return parts;
}

class hostile_callback_test : public reliability_fixture,
                              public ::testing::WithParamInterface<hostile_case> {};

// Loads, sends three notifications, unloads; the failure shows where the case says.
TEST_P(hostile_callback_test, costs_only_its_own_call) {
  const hostile_case& c = GetParam();
  const BOOL loaded = load(c.script.text(), 2);
  if (c.where == failing::load) {
    EXPECT_EQ(loaded, FALSE);
    ASSERT_EQ(events().size(), 1u);
    EXPECT_EQ(events()[0].type, 1);
    EXPECT_EQ(events()[0].identifier, 8u);
    EXPECT_EQ(events()[0].text.rfind(
                  "quillharbor failed to load (script on_init() error) code:2 message:", 0),
              0u);
    EXPECT_TRUE(matches(events()[0].text, c.expected[0] == '~' ? c.expected : "~:" + c.expected))
        << events()[0].text;
    EXPECT_EQ(unload(), FALSE);
    return;
  }
  ASSERT_EQ(loaded, TRUE) << (events().empty() ? "" : events()[0].text);
  for (int i = 0; i < 3; ++i) {
    fake_request request;
    EXPECT_EQ(notify(request), static_cast<DWORD>(SF_STATUS_REQ_NEXT_NOTIFICATION));
  }
  EXPECT_EQ(unload(), c.where == failing::unload ? FALSE : TRUE);
  if (c.where == failing::notifications) {
    const auto lines = traces();
    EXPECT_EQ(lines.size(), 3u);
    for (const std::string& line : lines) EXPECT_TRUE(matches(line, c.expected)) << line;
  } else {
    auto lines = traces();
    // A failing on_term says so in one line of its own, last.
    if (c.where == failing::unload && !lines.empty()) {
      EXPECT_EQ(lines.back().rfind("quillharbor failed to unload (script on_term() error code:2 message:", 0), 0u)
          << lines.back();
      lines.pop_back();
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"dequeue 0", "dequeue 1", "dequeue 2"}));
  }
  EXPECT_EQ(events().size(), 1u);  // the success event alone
}

const std::string enqueue_error = "error: on_enqueue code:2 message:";
const std::string dequeue_error = "error: on_dequeue code:2 message:";
const std::string yield_across = "attempt to yield across metamethod/C-call boundary";

INSTANTIATE_TEST_SUITE_P(
    raising_index_on_globals, hostile_callback_test,
    ::testing::Values(
        hostile_case{"missing_on_init", with_init("", raising_index), failing::load,
                     "no global on_init"},
        hostile_case{"missing_on_enqueue", with_enqueue("", raising_index),
                     failing::notifications, enqueue_error + "no global on_enqueue"},
        hostile_case{"missing_on_dequeue", with_dequeue("", raising_index),
                     failing::notifications, dequeue_error + "no global on_dequeue"},
        hostile_case{"missing_on_term", with_term("", raising_index), failing::unload, ""},
        hostile_case{"read_inside_on_enqueue",
                     with_enqueue("function on_enqueue(h) return true, {x = undefined} end",
                                  raising_index),
                     failing::notifications, enqueue_error + "no global undefined"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    control_flow, hostile_callback_test,
    ::testing::Values(
        hostile_case{"yield_from_on_init", with_init("function on_init() coroutine.yield(1) end"),
                     failing::load, yield_across},
        hostile_case{"yield_from_on_enqueue",
                     with_enqueue("function on_enqueue(h) coroutine.yield(h) end"),
                     failing::notifications, enqueue_error + yield_across},
        hostile_case{"yield_from_on_dequeue",
                     with_dequeue("function on_dequeue(f, n) coroutine.yield(f) end"),
                     failing::notifications, dequeue_error + yield_across},
        hostile_case{"yield_from_on_term", with_term("function on_term() coroutine.yield() end"),
                     failing::unload, ""},
        hostile_case{"lua_recursion",
                     with_enqueue("local function f(n) return 1 + f(n + 1) end\n"
                                  "function on_enqueue(h) return f(1) end"),
                     failing::notifications, "~stack overflow"},
        hostile_case{"recursion_through_index",
                     with_dequeue("local t = setmetatable({}, {})\n"
                                  "getmetatable(t).__index = function(t, k) return t[k] end\n"
                                  "function on_dequeue() return t.x end"),
                     failing::notifications, "~C stack overflow"},
        hostile_case{"recursion_through_gsub",
                     with_enqueue("local function f(s) return (('x' .. s):gsub('.', f)) end\n"
                                  "function on_enqueue(h) return true, {f('x')} end"),
                     failing::notifications, "~C stack overflow"},
        hostile_case{"raising_call_hook",
                     with_init("function on_init() return true end",
                               "debug.sethook(function() error('hook', 0) end, 'c')"),
                     failing::load, "hook"}),
    [](const auto& info) { return std::string(info.param.name); });

// Each pool state serves once, then every call fails.
TEST_F(hostile_script_test, a_callback_that_replaces_itself_fails_from_then_on) {
  ASSERT_EQ(load(with_enqueue("function on_enqueue(h) on_enqueue = 42 return true, {} end").text(),
                 2),
            TRUE);
  for (int i = 0; i < 4; ++i) {
    fake_request request;
    notify(request);
  }
  EXPECT_EQ(unload(), TRUE);
  const std::string fails = enqueue_error + "attempt to call a number value";
  auto lines = traces();  // the worker's lines interleave with the request thread's
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{"dequeue 0", "dequeue 1", fails, fails}));
}

struct error_value {
  const char* name;
  const char* expression;  // raised with error(expression, 0); h is the handle in on_enqueue
  const char* text;
};

const error_value error_values[] = {
    {"nil", "nil", "(error object is a nil value)"},
    {"boolean", "false", "(error object is a boolean value)"},
    {"table", "{}", "(error object is a table value)"},
    {"table_with_tostring", "setmetatable({}, {__tostring = function() error('no') end})",
     "(error object is a table value)"},
    {"function", "print", "(error object is a function value)"},
    {"userdata", "newproxy()", "(error object is a userdata value)"},
    {"thread", "coroutine.create(function() end)", "(error object is a thread value)"},
    {"integer", "42", "42"},
    {"fraction", "-0.25", "-0.25"},
    {"string_with_nul", "'a\\0b'", "a"},
    {"empty_string", "''", ""},
};

class error_value_test : public reliability_fixture,
                         public ::testing::WithParamInterface<error_value> {};

TEST_P(error_value_test, from_on_enqueue_becomes_a_trace_line_with_its_text) {
  const std::string raise = std::string("error(") + GetParam().expression + ", 0)";
  script_parts parts;
  parts.on_enqueue =
      "function on_enqueue(h) if kept then " + raise + " end kept = 1 return true, {} end";
  ASSERT_EQ(load(parts.text(), 1), TRUE);
  for (int i = 0; i < 3; ++i) {
    fake_request request;
    notify(request);
  }
  EXPECT_EQ(unload(), TRUE);
  // The first record is kept; the state stays in service for the two that fail.
  auto lines = traces();
  std::sort(lines.begin(), lines.end());
  const std::string failed = enqueue_error + GetParam().text;
  EXPECT_EQ(lines, (std::vector<std::string>{"dequeue 0", failed, failed}));
}

TEST_P(error_value_test, from_on_dequeue_becomes_a_trace_line_with_its_text) {
  const std::string raise = std::string("error(") + GetParam().expression + ", 0)";
  script_parts parts;
  parts.on_dequeue = "function on_dequeue(f, n) if n == 1 then " + raise + " end ndebug('dequeue ' .. n) end";
  ASSERT_EQ(load(parts.text(), 1), TRUE);
  for (int i = 0; i < 3; ++i) {
    fake_request request;
    notify(request);
  }
  EXPECT_EQ(unload(), TRUE);
  EXPECT_EQ(traces(), (std::vector<std::string>{"dequeue 0", dequeue_error + GetParam().text,
                                                "dequeue 2"}));
}

TEST_P(error_value_test, from_on_init_fails_the_load_with_its_text) {
  const error_value& v = GetParam();
  script_parts parts;
  parts.on_init = std::string("function on_init() error(") + v.expression + ", 0) end";
  EXPECT_EQ(load(parts.text(), 1), FALSE);
  const std::string text =
      std::string("quillharbor failed to load (script on_init() error) code:2 message:") + v.text;
  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(events()[0].identifier, 8u);
  EXPECT_EQ(events()[0].text, text);
  EXPECT_EQ(traces(), std::vector<std::string>{text});
}

INSTANTIATE_TEST_SUITE_P(every_type, error_value_test, ::testing::ValuesIn(error_values),
                         [](const auto& info) { return std::string(info.param.name); });

// Finalisers that raise: in the middle of the filter's own allocations (the
// on_dequeue table), and while the states are closed at unload.
TEST_F(hostile_script_test, raising_finalisers_cost_at_most_their_records) {
  ASSERT_EQ(load(R"(
    keeper = newproxy(true)
    getmetatable(keeper).__gc = function() ndebug('closing') error('in close', 0) end
    function on_init() return true end
    function on_enqueue(h)
      for i = 1, 50 do
        local p = newproxy(true)
        getmetatable(p).__gc = function() error('finaliser', 0) end
      end
      return true, {n = 1}
    end
    function on_dequeue(f, n)
      for i = 1, 50 do
        local p = newproxy(true)
        getmetatable(p).__gc = function() error('finaliser', 0) end
      end
      ndebug('dequeue')
    end
    function on_term() return true end
  )", 2), TRUE);
  constexpr int sent = 400;
  for (int i = 0; i < sent; ++i) {
    fake_request request;
    notify(request);
  }
  EXPECT_EQ(unload(), TRUE);
  std::size_t delivered = 0, enqueue_failed = 0, dequeue_failed = 0, closing = 0;
  for (const std::string& line : traces()) {
    if (line == "dequeue") ++delivered;
    else if (line == enqueue_error + "finaliser") ++enqueue_failed;
    else if (line == dequeue_error + "finaliser") ++dequeue_failed;
    else if (line == "closing") ++closing;
    else ADD_FAILURE() << line;
  }
  // A finaliser may raise after on_dequeue traced its record, never lose one silently.
  EXPECT_GE(delivered + enqueue_failed + dequeue_failed, static_cast<std::size_t>(sent));
  EXPECT_GT(enqueue_failed + dequeue_failed, 0u);
  EXPECT_EQ(closing, 3u);  // every state closed, each running its finaliser
}

TEST_F(hostile_script_test, stale_contexts_kept_in_globals_never_read_the_request_again) {
  ASSERT_EQ(load(R"(
    function on_init() return true end
    function on_enqueue(h)
      local ctx = enqueue_context.new(h)
      local r = {status = ctx:http_status(), url = ctx:server_variable('URL')}
      if kept then
        r.kept = select(2, pcall(kept.http_status, kept))
        r.kept_variable = select(2, pcall(kept.server_variable, kept, 'URL'))
        r.resumed = select(2, coroutine.resume(waiting))
      end
      kept, kept_handle = ctx, h
      waiting = coroutine.create(function() coroutine.yield() return ctx:bytes_sent() end)
      coroutine.resume(waiting)
      return true, r
    end
    function on_dequeue(f, n)
      ndebug(f.status .. ' ' .. f.url .. ' | ' .. tostring(f.kept) .. ' | ' ..
             tostring(f.kept_variable) .. ' | ' .. tostring(f.resumed))
    end
    function on_term() return true end
  )", 1), TRUE);
  // Each request dies before the next one comes, as the web server's would.
  for (int i = 0; i < 3; ++i) {
    auto request = std::make_unique<fake_request>();
    request->set_variable("URL", "/" + std::to_string(i));
    request->log.dwHttpStatus = 200 + i;
    notify(*request);
  }
  // The last context is kept by a state that another thread now uses.
  std::thread([this] {
    fake_request request;
    request.set_variable("URL", "/thread");
    request.log.dwHttpStatus = 500;
    notify(request);
  }).join();
  EXPECT_EQ(unload(), TRUE);
  const std::string stale = "enqueue_context used after its on_enqueue call returned";
  const auto lines = traces();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "200 /0 | nil | nil | nil");
  for (std::size_t i = 1; i < lines.size(); ++i) {
    EXPECT_NE(lines[i].find(" | " + stale + " | " + stale + " | "), std::string::npos) << lines[i];
    EXPECT_NE(lines[i].find(stale, lines[i].rfind(" | ")), std::string::npos) << lines[i];
  }
  EXPECT_EQ(lines[3].substr(0, 12), "500 /thread ");
}

TEST_F(hostile_script_test, huge_tables_and_values_pass_whole) {
  ASSERT_EQ(load(R"(
    function on_init() return true end
    function on_enqueue(h)
      if big then return true, {value = string.rep('v', 16 * 1024 * 1024)} end
      big = true
      local t = {}
      for i = 1, 200000 do t['key' .. i] = i end
      return true, t
    end
    function on_dequeue(f, n)
      local count, sum = 0, 0
      for k, v in pairs(f) do count = count + 1 sum = sum + #v end
      ndebug(count .. ' ' .. sum)
    end
    function on_term() return true end
  )", 1), TRUE);
  fake_request request;
  notify(request);
  notify(request);
  EXPECT_EQ(unload(), TRUE);
  std::size_t digits = 0;
  for (int i = 1; i <= 200000; ++i) digits += std::to_string(i).size();
  EXPECT_EQ(traces(), (std::vector<std::string>{"200000 " + std::to_string(digits),
                                                "1 " + std::to_string(16 * 1024 * 1024)}));
}

TEST_F(hostile_script_test, two_thousand_pool_states_all_serve) {
  constexpr int pool_size = 2000;
  ASSERT_EQ(load(R"(
    id = uuid()
    ndebug('chunk')
    function on_init() return true end
    function on_enqueue(h) return true, {id = id} end
    function on_dequeue(f, n) ndebug('state ' .. f.id) end
    function on_term() return true end
  )", pool_size), TRUE);
  EXPECT_EQ(count_traces("chunk"), static_cast<std::size_t>(pool_size + 1));
  // The pool hands out its longest-idle state: one notification after the
  // other reaches every state once; then threads share them.
  for (int i = 0; i < pool_size; ++i) {
    fake_request request;
    notify(request);
  }
  std::vector<std::thread> senders;
  for (int t = 0; t < 4; ++t) {
    senders.emplace_back([this] {
      for (int i = 0; i < pool_size / 4; ++i) {
        fake_request request;
        notify(request);
      }
    });
  }
  for (auto& sender : senders) sender.join();
  EXPECT_EQ(unload(), TRUE);
  std::map<std::string, int> uses;
  for (const std::string& line : traces())
    if (line.rfind("state ", 0) == 0) ++uses[line];
  EXPECT_EQ(uses.size(), static_cast<std::size_t>(pool_size));
  int total = 0;
  for (const auto& use : uses) total += use.second;
  EXPECT_EQ(total, 2 * pool_size);
}

struct raising_state {
  const char* name;
  int raising;  // which state's main chunk raises, 1 being the main state
  unsigned code;
};

class raising_state_test : public reliability_fixture,
                           public ::testing::WithParamInterface<raising_state> {};

// Every state counts itself in a shared file and leaves a finaliser that
// marks it closed; one of them raises.
TEST_P(raising_state_test, closes_every_state_opened_before_it) {
  const raising_state& c = GetParam();
  const std::string opened = (dir.path() / "opened").string();
  const std::string closed = (dir.path() / "closed").string();
  std::ostringstream script;
  script << "local f = io.open([[" << opened << "]], 'a') f:write('x') f:close()\n"
         << "f = io.open([[" << opened << "]]) local n = #f:read('*a') f:close()\n"
         << "marker = newproxy(true)\n"
         << "getmetatable(marker).__gc = function()\n"
         << "  local g = io.open([[" << closed << "]], 'a') g:write('x') g:close()\n"
         << "end\n"
         << "if n == " << c.raising << " then error('state ' .. n) end\n"
         << "function on_init() return true end\n";
  EXPECT_EQ(load(script.str(), 9), FALSE);
  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(events()[0].identifier, c.code);
  EXPECT_EQ(events()[0].text, "quillharbor failed to load (script syntax)");
  EXPECT_EQ(dir.read("opened").size(), static_cast<std::size_t>(c.raising));
  // The raising state is closed by the factory, the others by the load.
  EXPECT_EQ(dir.read("closed").size(), static_cast<std::size_t>(c.raising));
  EXPECT_EQ(unload(), FALSE);
}

INSTANTIATE_TEST_SUITE_P(which_state, raising_state_test,
                         ::testing::Values(raising_state{"main", 1, 4},
                                           raising_state{"seventh", 7, 6},
                                           raising_state{"last", 10, 6}),
                         [](const auto& info) { return std::string(info.param.name); });

// The worker sits in on_dequeue until the test opens a fifo: notifications
// keep coming meanwhile and never wait for it, and unload waits for the drain.
TEST_F(hostile_script_test, a_blocked_on_dequeue_never_holds_up_notifications) {
  const std::string gate = (dir.path() / "gate").string();
  ASSERT_EQ(::mkfifo(gate.c_str(), 0600), 0);
  script_parts parts;
  parts.on_enqueue = R"(function on_enqueue(h)
      local c = enqueue_context.new(h)
      return true, {thread = c:server_variable('THREAD'), seq = c:server_variable('SEQ')}
    end)";
  parts.on_dequeue = "function on_dequeue(f, n)\n"
                     "  if n == 0 then\n"
                     "    ndebug('blocked')\n"
                     "    local gate = io.open([[" + gate + "]], 'r')\n"
                     "    gate:read('*l') gate:close()\n"
                     "  end\n"
                     "  ndebug(f.thread .. ' ' .. f.seq .. ' ' .. n)\n"
                     "end";
  ASSERT_EQ(load(parts.text(), 2), TRUE);
  auto send = [this](int thread, int seq) {
    fake_request request;
    request.set_variable("THREAD", std::to_string(thread));
    request.set_variable("SEQ", std::to_string(seq));
    EXPECT_EQ(notify(request), static_cast<DWORD>(SF_STATUS_REQ_NEXT_NOTIFICATION));
  };
  send(0, 0);
  ASSERT_TRUE(capture.wait_for([](const auto& lines) { return !lines.empty(); }));

  constexpr int threads = 4, per_thread = 500;
  std::vector<std::thread> senders;
  for (int t = 1; t <= threads; ++t)
    senders.emplace_back([&send, t] {
      for (int i = 0; i < per_thread; ++i) send(t, i);
    });
  for (auto& sender : senders) sender.join();
  // Every notification has returned while the worker is still held.
  EXPECT_EQ(traces(), std::vector<std::string>{"blocked"});

  auto unloading = std::async(std::launch::async, [this] { return unload(); });
  const int opened = ::open(gate.c_str(), O_WRONLY);
  ASSERT_GE(opened, 0);
  ASSERT_EQ(::write(opened, "go\n", 3), 3);
  ::close(opened);
  EXPECT_EQ(unloading.get(), TRUE);

  const auto lines = traces();
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(2 + threads * per_thread));
  EXPECT_EQ(lines[1], "0 0 0");
  std::map<int, int> next;
  for (std::size_t i = 2; i < lines.size(); ++i) {
    std::istringstream in(lines[i]);
    int thread = -1, seq = -1, number = -1;
    in >> thread >> seq >> number;
    EXPECT_EQ(number, static_cast<int>(i - 1)) << lines[i];
    EXPECT_EQ(seq, next[thread]++) << lines[i];
  }
  for (int t = 1; t <= threads; ++t) EXPECT_EQ(next[t], per_thread);
}

}  // namespace
