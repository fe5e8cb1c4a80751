// Ordinary patterns of a log script (a URL split, a query walked, spaces
// squeezed, a plain find) with arg 0: no time limit (the library's matcher);
// arg 1: a 5 s limit (the bounded matcher, which looks at the clock).
#include <benchmark/benchmark.h>

#include <lua.hpp>

#include "platform/own_stack.h"
#include "script/pattern_guard.h"
#include "script/state_slots.h"
#include "script/state_stack.h"
#include "script/time_limit.h"

namespace {

const char* const patterns = R"(
local url = 'https://www.example.com/shop/cart.aspx?item=1234&qty=2&ref=mail%20campaign&lang=en-GB'
local agent = 'Mozilla/5.0  (Windows NT 10.0;  Win64; x64)   AppleWebKit/537.36 (KHTML, like Gecko)'
return function()
  local scheme, host, path = url:match('^(%w+)://([^/]+)(/[^?]*)')
  local pairs_seen = 0
  for key, value in url:gmatch('[?&]([^=&]+)=([^&]*)') do pairs_seen = pairs_seen + 1 end
  local squeezed = agent:gsub('%s+', ' ')
  local windows = agent:find('Windows', 1, true)
  return scheme, host, path, pairs_seen, squeezed, windows
end
)";

// [] -> []: one round of the patterns.
int run_patterns(lua_State* L) {
  lua_getfield(L, LUA_REGISTRYINDEX, "patterns");
  lua_call(L, 0, 0);
  return 0;
}

int load_patterns(lua_State* L) {
  if (luaL_loadstring(L, patterns) != 0) return lua_error(L);
  lua_call(L, 0, 1);
  lua_setfield(L, LUA_REGISTRYINDEX, "patterns");
  return 0;
}

void BM_patterns(benchmark::State& state) {
  const bool limited = state.range(0) != 0;
  state_slots slots;
  lua_State* L = new_state_with_slots(slots);
  luaL_openlibs(L);
  install_pattern_guard(L);
  if (limited) watch_time(L);
  platform::own_stack* stack = platform::make_own_stack(state_stack_size);
  if (call_on_state_stack(L, stack, load_patterns, nullptr) != 0) state.SkipWithError("the patterns failed");
  for (auto _ : state) {
    start_deadline(L, limited ? 5000 : 0);
    const int status = call_on_state_stack(L, stack, run_patterns, nullptr);
    end_deadline(L);
    if (status != 0) {
      state.SkipWithError(lua_tostring(L, -1));
      break;
    }
  }
  state.SetLabel(limited ? "bounded matcher" : "library matcher");
  lua_close(L);
  platform::free_own_stack(stack);
}

}  // namespace

BENCHMARK(BM_patterns)->Arg(0)->Arg(1);
