// Scripts that try to bring the process down. After each the process is alive
// and the state answers the next call.
#include <gtest/gtest.h>

#include <memory>

#include "script/callbacks.h"
#include "script_fixture.h"

namespace {

enum class callback { init, enqueue, dequeue };

struct hostile_case {
  const char* name;
  const char* script;  // on_term is added; it must keep working
  callback failing;
  int code;
  const char* message;  // the whole message, or a part of it after '~'
};

// Runs the callback and returns its failure.
script_exec_error failure_of(script_state& state, callback which) {
  fake_server server;
  try {
    switch (which) {
      case callback::init:
        run_on_init(state);
        break;
      case callback::enqueue: {
        record* out = nullptr;
        if (run_on_enqueue(state, &server.handle, out)) delete out;
        break;
      }
      case callback::dequeue:
        run_on_dequeue(state, new record, 1);
        break;
    }
  } catch (const script_exec_error& e) {
    return e;
  }
  ADD_FAILURE() << "the callback succeeded";
  return {};
}

void expect_still_usable(opened_script& s) {
  EXPECT_EQ(lua_gettop(s.L()), 0);
  EXPECT_TRUE(run_on_term(s.state()));
  EXPECT_EQ(s.eval("return 1 + 1"), "2");
}

class hostile : public testing::TestWithParam<hostile_case> {};

TEST_P(hostile, fails_cleanly_and_leaves_the_state_usable) {
  const hostile_case& c = GetParam();
  opened_script s(std::string("function on_term() return true end\n") + c.script);
  for (int round = 0; round < 2; ++round) {
    const script_exec_error e = failure_of(s.state(), c.failing);
    EXPECT_EQ(e.code, c.code);
    const std::string expected = c.message;
    if (expected[0] == '~') {
      EXPECT_NE(e.message.find(expected.substr(1)), std::string::npos) << e.message;
    } else {
      EXPECT_EQ(e.message, expected);
    }
    expect_still_usable(s);
  }
}

INSTANTIATE_TEST_SUITE_P(
    globals_index, hostile,
    testing::Values(
        hostile_case{"raising_index_on_dequeue",
                     "setmetatable(_G, {__index = function(_, k) error('no global ' .. k, 0) end})",
                     callback::dequeue, 2, "no global on_dequeue"},
        hostile_case{"raising_index_on_enqueue",
                     "setmetatable(_G, {__index = function(_, k) error('no global ' .. k, 0) end})",
                     callback::enqueue, 2, "no global on_enqueue"},
        hostile_case{"raising_index_on_init",
                     "setmetatable(_G, {__index = function() error({}) end})", callback::init, 2,
                     "(error object is a table value)"},
        hostile_case{"recursive_index",
                     "setmetatable(_G, {__index = function(t, k) return t[k] end})", callback::init,
                     2, "~stack overflow"}),
    [](const testing::TestParamInfo<hostile_case>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    error_values, hostile,
    testing::Values(
        hostile_case{"string_at_level_0", "function on_init() error('plain', 0) end",
                     callback::init, 2, "plain"},
        hostile_case{"string_with_position", "function on_init() error('where') end",
                     callback::init, 2, "~:2: where"},
        hostile_case{"string_with_nul", "function on_init() error('a\\0b', 0) end", callback::init,
                     2, "a"},
        hostile_case{"integer", "function on_init() error(42, 0) end", callback::init, 2, "42"},
        hostile_case{"fraction", "function on_init() error(0.25, 0) end", callback::init, 2,
                     "0.25"},
        hostile_case{"nil", "function on_init() error() end", callback::init, 2,
                     "(error object is a nil value)"},
        hostile_case{"boolean", "function on_init() error(false) end", callback::init, 2,
                     "(error object is a boolean value)"},
        hostile_case{"table", "function on_init() error({}) end", callback::init, 2,
                     "(error object is a table value)"},
        hostile_case{"table_with_tostring",
                     "function on_init() error(setmetatable({}, {__tostring = error})) end",
                     callback::init, 2, "(error object is a table value)"},
        hostile_case{"function", "function on_init() error(print) end", callback::init, 2,
                     "(error object is a function value)"},
        hostile_case{"userdata", "function on_init() error(newproxy()) end", callback::init, 2,
                     "(error object is a userdata value)"},
        hostile_case{"light_userdata", "function on_enqueue(h) error(h) end", callback::enqueue, 2,
                     "(error object is a userdata value)"},
        hostile_case{"thread", "function on_init() error(coroutine.create(function() end)) end",
                     callback::init, 2, "(error object is a thread value)"},
        hostile_case{"table_from_on_enqueue", "function on_enqueue() error({}) end",
                     callback::enqueue, 2, "(error object is a table value)"},
        hostile_case{"number_from_on_dequeue", "function on_dequeue() error(-7, 0) end",
                     callback::dequeue, 2, "-7"},
        hostile_case{
            "deeply_nested_table",
            "function on_init() local t = {} for i = 1, 100000 do t = {t} end error(t) end",
            callback::init, 2, "(error object is a table value)"}),
    [](const testing::TestParamInfo<hostile_case>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    control_flow, hostile,
    testing::Values(
        hostile_case{"yield_from_on_init", "function on_init() coroutine.yield(1) end",
                     callback::init, 2, "~attempt to yield across"},
        hostile_case{"yield_from_on_enqueue", "function on_enqueue() coroutine.yield() end",
                     callback::enqueue, 2, "~attempt to yield across"},
        hostile_case{
            "lua_recursion",
            "function on_init() local function f(n) return 1 + f(n + 1) end return f(1) end",
            callback::init, 2, "~stack overflow"},
        hostile_case{"recursion_through_metamethods",
                     "local t = setmetatable({}, {})\n"
                     "getmetatable(t).__index = function(t, k) return t[k] end\n"
                     "function on_dequeue() return t.x end",
                     callback::dequeue, 2, "~stack overflow"},
        hostile_case{"recursion_through_pcall",
                     "local function f() local ok, e = pcall(f) error(e, 0) end\n"
                     "function on_enqueue() f() end",
                     callback::enqueue, 2, "~stack overflow"},
        hostile_case{"huge_message", "function on_init() error(string.rep('x', 1000000), 0) end",
                     callback::init, 2, "~xxxxxxxxxx"}),
    [](const testing::TestParamInfo<hostile_case>& info) { return std::string(info.param.name); });

// Finalisers that raise, left to a collection step inside the filter's own
// work: building the on_dequeue table, copying on_enqueue's results.
TEST(hostile_finalisers, raise_where_the_filter_allocates_without_harm) {
  opened_script s(
      "function on_term() return true end\n"
      "function on_init()\n"
      "  held = {}\n"
      "  for i = 1, 200 do\n"
      "    local p = newproxy(true)\n"
      "    getmetatable(p).__gc = function() error('finaliser ' .. i, 0) end\n"
      "    held[i] = p\n"
      "  end\n"
      "  collectgarbage('setpause', 100)\n"
      "  held = nil\n"
      "  return true\n"
      "end\n"
      "function on_dequeue(fields) count = (count or 0) + 1 end\n");
  ASSERT_TRUE(run_on_init(s.state()));
  auto big = [] {
    record_builder builder;
    for (int i = 0; i < 2000; ++i) builder.add("key" + std::to_string(i), std::string(64, 'v'));
    return std::unique_ptr<record>(builder.build());
  };
  int raised = 0;
  for (int i = 0; i < 300; ++i) {
    try {
      run_on_dequeue(s.state(), big().release(), i);
    } catch (const script_exec_error& e) {
      EXPECT_EQ(e.code, 2);
      EXPECT_EQ(e.message.rfind("finaliser ", 0), 0u) << e.message;
      ++raised;
    }
    EXPECT_EQ(lua_gettop(s.L()), 0);
  }
  EXPECT_GT(raised, 0);
  run_on_dequeue(s.state(), big().release(), 0);
  expect_still_usable(s);
}

// An object kept past its call never reads the request again, even when the
// next request's handle has the same address.
TEST(stale_handles, are_refused_in_later_calls) {
  opened_script s(
      "function on_enqueue(h)\n"
      "  local ctx = enqueue_context.new(h)\n"
      "  local fresh = ctx:http_status()\n"
      "  local r = {fresh = fresh}\n"
      "  if kept then\n"
      "    r.kept = select(2, pcall(kept.http_status, kept))\n"
      "    r.kept_variable = select(2, pcall(kept.server_variable, kept, 'A'))\n"
      "    r.kept_handle = tostring(pcall(enqueue_context.new, kept_handle))\n"
      "    r.resumed = tostring(select(2, coroutine.resume(waiting)))\n"
      "  end\n"
      "  kept, kept_handle = ctx, h\n"
      "  waiting = coroutine.create(function() coroutine.yield() return ctx:http_status() end)\n"
      "  coroutine.resume(waiting)\n"
      "  return true, r\n"
      "end\n"
      "function on_term() return pcall(kept.http_status, kept) end\n");
  // Called through pcall the message has no position; from script code it has.
  const std::string stale_pcalled = "enqueue_context used after its on_enqueue call returned";
  const std::string stale_in_coroutine =
      s.path() + ":12: enqueue_context used after its on_enqueue call returned";
  fake_server server;
  server.variables = {{"A", "a"}};
  for (int round = 0; round < 3; ++round) {
    server.log.dwHttpStatus = 200 + round;
    record* out = nullptr;
    ASSERT_TRUE(run_on_enqueue(s.state(), &server.handle, out));
    const std::unique_ptr<record> made(out);
    EXPECT_EQ(made->fields().at("fresh"), std::to_string(200 + round));
    if (round > 0) {
      EXPECT_EQ(made->fields().at("kept"), stale_pcalled);
      EXPECT_EQ(made->fields().at("kept_variable"), stale_pcalled);
      // The same address is the live handle again: that is allowed.
      EXPECT_EQ(made->fields().at("kept_handle"), "true");
      EXPECT_EQ(made->fields().at("resumed"), stale_in_coroutine);
    }
  }
  EXPECT_FALSE(run_on_term(s.state()));
  EXPECT_EQ(server.asked.size(), 0u);
}

TEST(stale_handles, a_handle_of_an_ended_call_at_another_address_is_refused) {
  opened_script s(
      "function on_enqueue(h)\n"
      "  local r = {}\n"
      "  if old then r.old = select(2, pcall(enqueue_context.new, old)) end\n"
      "  old = h\n"
      "  return true, r\n"
      "end\n");
  fake_server first;
  fake_server second;
  record* out = nullptr;
  ASSERT_TRUE(run_on_enqueue(s.state(), &first.handle, out));
  delete out;
  ASSERT_TRUE(run_on_enqueue(s.state(), &second.handle, out));
  const std::unique_ptr<record> made(out);
  EXPECT_EQ(
      made->fields().at("old"),
      "bad argument #1 to '?' ('handle to enqueue_context' expected, got one that is not live)");
}

TEST(foreign_userdata, with_the_objects_metatable_is_never_read) {
  opened_script s(
      "function on_enqueue(h)\n"
      "  local mt = debug.getregistry()['quillharbor.enqueue_context']\n"
      "  local p = newproxy()\n"
      "  debug.setmetatable(p, mt)\n"
      "  return true, {r = select(2, pcall(mt.http_status, p))}\n"
      "end\n");
  fake_server server;
  record* out = nullptr;
  ASSERT_TRUE(run_on_enqueue(s.state(), &server.handle, out));
  const std::unique_ptr<record> made(out);
  EXPECT_EQ(
      made->fields().at("r"),
      "bad argument #1 to '?' (quillharbor.enqueue_context expected, got a foreign userdata)");
}

// The methods know their metatable by identity; a table or a light userdata
// that carries it is still refused, with the messages it always had.
TEST(foreign_values, with_the_objects_metatable_are_refused) {
  opened_script s(
      "function on_enqueue(h)\n"
      "  local mt = debug.getregistry()['quillharbor.enqueue_context']\n"
      "  debug.setmetatable(h, mt)\n"
      "  local light = select(2, pcall(mt.server_variable, h, 'URL'))\n"
      "  debug.setmetatable(h, nil)\n"
      "  return true, {t = select(2, pcall(mt.http_status, setmetatable({}, mt))), l = light}\n"
      "end\n");
  fake_server server;
  record* out = nullptr;
  ASSERT_TRUE(run_on_enqueue(s.state(), &server.handle, out));
  const std::unique_ptr<record> made(out);
  EXPECT_EQ(made->fields().at("t"),
            "bad argument #1 to '?' (quillharbor.enqueue_context expected, got table)");
  EXPECT_EQ(made->fields().at("l"),
            "bad argument #1 to '?' (quillharbor.enqueue_context expected, got a foreign userdata)");
}

TEST(hostile_hooks, that_raise_on_every_call_fail_each_callback_cleanly) {
  opened_script s(
      "function on_init() debug.sethook(function() error('hooked', 0) end, 'c') return true end\n"
      "function on_term() return true end\n");
  EXPECT_TRUE(run_on_init(s.state()));
  for (int round = 0; round < 3; ++round) {
    const script_exec_error e =
        failure_of(s.state(), round == 0 ? callback::dequeue : callback::enqueue);
    EXPECT_EQ(e.code, 2);
    EXPECT_EQ(e.message, "hooked");
    EXPECT_EQ(lua_gettop(s.L()), 0);
  }
}

TEST(huge_tables, are_copied_whole_and_nested_ones_refused) {
  opened_script s(
      "function on_enqueue(h)\n"
      "  if nested then\n"
      "    local t = {} for i = 1, 100000 do t = {t} end\n"
      "    return true, {deep = t}\n"
      "  end\n"
      "  local t = {}\n"
      "  for i = 1, 200000 do t['k' .. i] = i end\n"
      "  return true, t\n"
      "end\n"
      "function on_dequeue(f) n = 0 for k, v in pairs(f) do n = n + 1 end end\n");
  fake_server server;
  record* out = nullptr;
  ASSERT_TRUE(run_on_enqueue(s.state(), &server.handle, out));
  ASSERT_EQ(out->fields().size(), 200000u);
  EXPECT_EQ(out->fields().at("k123456"), "123456");
  run_on_dequeue(s.state(), out, 0);
  EXPECT_EQ(s.eval("return n"), "200000");
  s.eval("nested = true");
  out = nullptr;
  EXPECT_THROW(run_on_enqueue(s.state(), &server.handle, out), script_result_error);
  EXPECT_EQ(out, nullptr);
}

}  // namespace
