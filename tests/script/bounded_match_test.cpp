// The bounded matcher against the library's, and its two bounds.
#include <gtest/gtest.h>

#include <lua.hpp>
#include <string>

#include "own_stack_state.h"
#include "script/bounded_match.h"
#include "script/time_limit.h"

namespace {

// Every call of the table is made with the library's function and with the
// bounded one; the results, or error texts, must be the same.
const char* const differential = R"(
local s = 'hello world from Lua, (nested (parens)) [x] 123 abc-def THE END'
local calls = {
  {'find', s, 'o w'}, {'find', s, 'o.w'}, {'find', s, 'l+'}, {'find', s, 'l+', 5}, {'find', s, 'l+', -10},
  {'find', s, '(%a+) (%a+)'}, {'find', s, '()ll()'}, {'find', s, '^hello'}, {'find', s, '^world'},
  {'find', s, 'END$'}, {'find', s, 'E$N'}, {'find', s, '%b()'}, {'find', s, '%f[%a]%a+', 3},
  {'find', s, '[%d]+'}, {'find', s, '[^%s]+$'}, {'find', s, '[a-c]+'}, {'find', s, '[]]'}, {'find', s, '[%]x]'},
  {'find', s, '.-o'}, {'find', s, 'x*'}, {'find', s, ''}, {'find', s, '', 100}, {'find', s, '(', 1, true},
  {'find', s, '%w+%-%w+'}, {'find', 'a\0b', '%z'}, {'find', 'a\0b', 'a\0'}, {'find', s, '(l)%1'},
  {'find', s, '%u%U'}, {'find', s, '[%A]'}, {'find', s, '%x%X%p%P%c%C'}, {'find', 'aaa', 'a-$'},
  {'find', s, 'a%'}, {'find', s, '[a'}, {'find', s, '[a%'}, {'find', s, '%f'}, {'find', s, '%bx'},
  {'find', s, '(()'}, {'find', s, ')'}, {'find', s, '%1'}, {'find', s, '(a)%2'}, {'find', s, '%0'},
  {'find', s, string.rep('(a)', 33)}, {'find', 12345, 3}, {'find', s, '^'}, {'find', '', '$'},
  {'match', s, '(%a+) (%a+)'}, {'match', s, '()(%d+)()'}, {'match', s, '%((.-)%)'}, {'match', s, 'z'},
  {'match', s, '^(h)(e)'}, {'match', s, '.', -1}, {'match', s, '(h)(.-)(%1)'}, {'match', s, '%'},
  {'gsub', s, 'o', '0'}, {'gsub', s, '(%a+)', '<%1>'}, {'gsub', s, '%a+', '%0%0', 3}, {'gsub', s, '', '-'},
  {'gsub', s, '(l)(l)', '%2%1'}, {'gsub', s, 'l', '%'}, {'gsub', s, 'l', '%x'}, {'gsub', s, 'l', '%2'},
  {'gsub', s, '(l)', '%2'}, {'gsub', s, '^h', 'H'}, {'gsub', s, '%w+', {hello = 'HI', world = false}},
  {'gsub', s, '%w+', function(w) if #w > 4 then return w:upper() end end}, {'gsub', s, 'o', 7},
  {'gsub', s, '%w+', function() return {} end}, {'gsub', s, 'o', true}, {'gsub', s, '()', '%1'},
  {'gsub', 'abc', '%w', '%0-', 0}, {'gsub', 'abc', '', '', -1}, {'gsub', s, 'x*', '.'},
  {'gmatch', s, '%a+'}, {'gmatch', s, '(%w)(%w)'}, {'gmatch', s, ''}, {'gmatch', s, '()o'},
  {'gmatch', s, '^h'}, {'gmatch', 'abab', 'a*'}, {'gmatch', s, '%'},
}
local function run(f, call)
  local results = {pcall(f, unpack(call, 2))}
  if call[1] == 'gmatch' and results[1] then
    local all = {true}
    local ok, e = pcall(function() for a, b in results[2] do all[#all + 1] = tostring(a) .. '|' .. tostring(b) end end)
    if not ok then all = {false, e} end
    results = all
  end
  for i = 1, #results do results[i] = tostring(results[i]) end
  return table.concat(results, ' ')
end
local mismatches = {}
for i, call in ipairs(calls) do
  local library, bounded = run(string[call[1]], call), run(_G['bounded_' .. call[1]], call)
  if library ~= bounded then
    mismatches[#mismatches + 1] = i .. ' ' .. call[1] .. ' ' .. tostring(call[3]) .. ': ' .. library .. ' / ' .. bounded
  end
end
return table.concat(mismatches, '\n')
)";

void register_bounded(lua_State* L) {
  const luaL_Reg bounded[] = {{"bounded_find", bounded_find},   {"bounded_match", bounded_match},
                              {"bounded_gmatch", bounded_gmatch}, {"bounded_gsub", bounded_gsub},
                              {nullptr, nullptr}};
  for (const luaL_Reg* r = bounded; r->name != nullptr; ++r) lua_register(L, r->name, r->func);
}

TEST(bounded_match, agrees_with_the_library_on_results_and_errors) {
  raw_state s;
  register_bounded(s.L);
  EXPECT_EQ(s.run(differential), "");
}

struct bound_case {
  const char* chunk;
  const char* error;  // what the error ends with
};

TEST(bounded_match, backtracking_and_deep_patterns_stop_under_the_time_limit) {
  const bound_case cases[] = {
      {"string.find(('a'):rep(27), ('a?'):rep(27) .. ('a'):rep(27) .. 'b')", "time limit exceeded"},
      {"for m in ('a'):rep(30):gmatch(('a?'):rep(30) .. ('a'):rep(30) .. 'b') do end", "time limit exceeded"},
      {"('a'):rep(30):gsub(('a?'):rep(30) .. ('a'):rep(30) .. 'b', '')", "time limit exceeded"},
      {"(('a'):rep(30)):match(('a?'):rep(30) .. ('a'):rep(30) .. 'b')", "time limit exceeded"},
      {"string.find(('a'):rep(100000), ('a?'):rep(100000))", "pattern too complex for the stack"},
  };
  raw_state s;
  watch_time(s.L);
  for (const bound_case& c : cases) {
    start_deadline(s.L, 100);
    const std::string result = s.run(c.chunk);
    end_deadline(s.L);
    const std::string error = c.error;
    EXPECT_TRUE(result.size() >= error.size() && result.compare(result.size() - error.size(), error.size(), error) == 0)
        << c.chunk << ": " << result;
  }
  EXPECT_EQ(s.run("return (('x'):gsub('x', 'y'))"), "y");
}

}  // namespace
