#include <gtest/gtest.h>

#include <memory>

#include "script/callbacks.h"
#include "script/script_state.h"
#include "script_fixture.h"

namespace {

struct failed_load_case {
  const char* name;
  const char* source;  // null: the path names no file
};

class failed_load : public testing::TestWithParam<failed_load_case> {};

TEST_P(failed_load, gives_code_2_and_no_state) {
  const failed_load_case& c = GetParam();
  const temp_script file(c.source ? c.source : "");
  const std::string path = c.source ? file.path() : file.path() + ".missing";
  script_state out;
  out.L = reinterpret_cast<lua_State*>(&out);  // must be cleared
  try {
    open_script_state(out, path);
    FAIL() << "opened";
  } catch (const script_load_error& e) {
    EXPECT_EQ(e.code, 2);
  }
  EXPECT_EQ(out.L, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    script, failed_load,
    testing::Values(failed_load_case{"missing_file", nullptr},
                    failed_load_case{"syntax_error", "function on_init( return true end"},
                    failed_load_case{"main_chunk_error", "error('stop')"},
                    failed_load_case{"main_chunk_error_table", "error({})"},
                    failed_load_case{"error_after_raising_finaliser",
                                     "local p = newproxy(true)\n"
                                     "getmetatable(p).__gc = function() error('gc') end\n"
                                     "error('stop')"}),
    [](const testing::TestParamInfo<failed_load_case>& info) {
      return std::string(info.param.name);
    });

TEST(state_factory, opens_a_script_without_callbacks_and_fails_only_at_the_call) {
  opened_script s("x = 1");
  try {
    run_on_init(s.state());
    FAIL() << "on_init ran";
  } catch (const script_exec_error& e) {
    EXPECT_EQ(e.code, 2);
    EXPECT_EQ(e.message, "attempt to call a nil value");
  }
  EXPECT_EQ(lua_gettop(s.L()), 0);
}

TEST(state_factory, skips_a_first_line_of_hash_but_counts_it) {
  opened_script s("#!/usr/bin/lua\nfunction on_init() error('here') end\n");
  try {
    run_on_init(s.state());
    FAIL();
  } catch (const script_exec_error& e) {
    EXPECT_EQ(e.message, s.path() + ":2: here");
  }
}

// Each expression must be true in a new state.
class new_state_holds : public testing::TestWithParam<const char*> {};

TEST_P(new_state_holds, expression) {
  opened_script s("");
  EXPECT_EQ(lua_gettop(s.L()), 0);
  EXPECT_EQ(s.eval(std::string("return ") + GetParam()), "true");
}

INSTANTIATE_TEST_SUITE_P(
    script, new_state_holds,
    testing::Values(
        "type(io) == 'table' and type(os) == 'table' and type(debug) == 'table' and "
        "type(package) == 'table' and type(coroutine) == 'table'",
        "type(lfs) == 'table' and lfs._VERSION:find('^LuaFileSystem 1%.') ~= nil",
        "type(lfs._COPYRIGHT) == 'string' and type(lfs._DESCRIPTION) == 'string'",
        "require('lfs') == lfs and package.loaded.lfs == lfs",
        "type(ndebug) == 'function' and type(uuid) == 'function'",
        "type(enqueue_context.new) == 'function' and package.loaded.enqueue_context == "
        "enqueue_context",
        "(function() local mt = debug.getregistry()['quillharbor.enqueue_context']; "
        "return mt.__index == mt end)()",
        "(function() local mt = debug.getregistry()['quillharbor.enqueue_context']; local n = 0; "
        "for k, v in pairs(mt) do if type(v) == 'function' then n = n + 1 end end; "
        "return n == 6 and mt.__gc == nil and type(mt.server_variable) == 'function' and "
        "type(mt.process_time) == 'function' end)()"));

TEST(state_factory, runs_the_main_chunk_once_per_state) {
  const trace_capture trace;
  const temp_script file("ndebug('loaded')");
  std::vector<script_state*> states;
  for (int i = 0; i < 4; ++i) states.push_back(&open_script_state(*new script_state, file.path()));
  EXPECT_EQ(trace.texts(), std::vector<std::string>(4, "loaded"));
  for (script_state* s : states) close_script_state(s);
}

TEST(state_factory, keeps_globals_apart_between_states) {
  const char* source = "function on_init() shared = (shared or 0) + 1; return shared == 1 end";
  opened_script first(source);
  opened_script second(source);
  EXPECT_TRUE(run_on_init(first.state()));
  EXPECT_FALSE(run_on_init(first.state()));
  EXPECT_TRUE(run_on_init(second.state()));
}

TEST(state_factory, close_runs_finalisers_and_accepts_null) {
  const trace_capture trace;
  {
    opened_script s(
        "keep = newproxy(true)\n"
        "getmetatable(keep).__gc = function() ndebug('finalised') end\n"
        "local raising = newproxy(true)\n"
        "getmetatable(raising).__gc = function() error('gc') end\n"
        "also = raising\n");
  }
  EXPECT_EQ(trace.texts(), std::vector<std::string>{"finalised"});
  close_script_state(nullptr);
}

}  // namespace
