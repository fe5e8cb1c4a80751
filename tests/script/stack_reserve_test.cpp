// The frames that the stack reserve is made of, measured on this build: one
// nested C call of each kind the interpreter allows, and one level of the
// library's matcher. A build whose frames outgrow stack_reserve.h fails here.
#include <gtest/gtest.h>

#include <string>

#include "own_stack_state.h"
#include "platform/own_stack.h"
#include "script/stack_reserve.h"
#include "script/time_limit.h"

namespace {

int stack_left(lua_State* L) {
  lua_pushnumber(L, static_cast<lua_Number>(platform::own_stack_left()));
  return 1;
}

// Returns "kind:bytes" for each kind whose largest step down the stack from
// one level to the next is over `limit`, or that nested fewer than `levels`
// times (the measure would then say little).
const char* const per_c_call = R"(
local limit, levels = ...
local function nest(enter) return function(probe)
  local n = 0
  local function r() probe(); n = n + 1; if n < 150 then enter(r) end end
  r()
end end
local kinds = {
  gsub = nest(function(r) string.gsub('x', 'x', r) end),
  gsub_capture = nest(function(r) string.gsub('x', '(x)', r) end),
  sort = nest(function(r) table.sort({2, 1}, function(x, y) r(); return x < y end) end),
  pcall = nest(function(r) pcall(r) end),
  xpcall = nest(function(r) xpcall(r, print) end),
  tostring = nest(function(r) tostring(setmetatable({}, {__tostring = function() r(); return '' end})) end),
  index = nest(function(r) local _ = setmetatable({}, {__index = function() r() end}).x end),
  concat = nest(function(r) local _ = setmetatable({}, {__concat = function() r(); return '' end}) .. 'x' end),
  less = nest(function(r) local m = {__lt = function() r(); return true end}; local _ = setmetatable({}, m) < setmetatable({}, m) end),
  load = nest(function(r) local done; load(function() if not done then done = true; r(); return 'return' end end) end),
  require = nest(function(r) local name = tostring(r) .. math.random(); package.preload[name] = r; require(name) end),
  wrap = nest(function(r) coroutine.wrap(r)() end),
  resume = nest(function(r) coroutine.resume(coroutine.create(r)) end),
  handler = nest(function(r) xpcall(error, r) end),
}
-- Under a time limit a script has no finalisers of its own.
if pcall(newproxy, true) then
  kinds.finaliser = nest(function(r) getmetatable(newproxy(true)).__gc = r; collectgarbage() end)
end
local over = {}
for name, run in pairs(kinds) do
  local at = {}
  pcall(run, function() at[#at + 1] = stack_left() end)
  local worst = 0
  for i = 2, #at do worst = math.max(worst, at[i - 1] - at[i]) end
  if #at < levels or worst > limit then over[#over + 1] = name .. ':' .. worst .. ' levels:' .. #at end
end
table.sort(over)
return table.concat(over, ' ')
)";

// The stack left at the deepest level of a pattern of n items, reached by
// the error it raises there.
const char* const per_match_level = R"(
local limit = ...
local function deepest(item, n)
  local at
  xpcall(function() string.find(string.rep('a', 2500), string.rep(item, n) .. '%') end,
         function() at = stack_left() end)
  return at
end
local over = {}
for _, item in ipairs{'a?', 'a-', 'a*'} do
  local bytes = (deepest(item, 1000) - deepest(item, 2000)) / 1000
  if bytes > limit or bytes <= 0 then over[#over + 1] = item .. ':' .. bytes end
end
return table.concat(over, ' ')
)";

std::string measured(raw_state& s, const char* chunk, std::size_t limit, int levels = 100) {
  lua_register(s.L, "stack_left", stack_left);
  return s.run("return (function(...) " + std::string(chunk) + " end)(" + std::to_string(limit) + ", " +
               std::to_string(levels) + ")");
}

TEST(stack_reserve, each_nested_c_call_takes_at_most_bytes_per_c_call) {
  raw_state library;
  EXPECT_EQ(measured(library, per_c_call, bytes_per_c_call), "");
  raw_state bounded;  // the count hook sends patterns to the bounded matcher
  watch_time(bounded.L);
  // The time limit's own pcall, xpcall and resume spend a second C call of
  // Lua's 200 on each level, so fewer levels nest.
  EXPECT_EQ(measured(bounded, per_c_call, bytes_per_c_call, 70), "");
}

TEST(stack_reserve, each_level_of_the_library_matcher_takes_at_most_bytes_per_match_level) {
  raw_state s;
  EXPECT_EQ(measured(s, per_match_level, bytes_per_match_level), "");
}

}  // namespace
