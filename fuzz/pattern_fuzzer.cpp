// The bounded matcher against the library's: the input is split into a
// subject, a pattern and a replacement, each function is called both ways
// under pcall, and the results or error texts must be the same.
#include <cstddef>
#include <cstdint>
#include <string>

#include <lua.hpp>

#include "script/bounded_match.h"

namespace {

const char* const compare = R"lua(
local s, p, r, init = ...
local function run(find, match, gmatch, gsub)
  local out = {}
  local function add(ok, ...)
    out[#out + 1] = tostring(ok)
    for i = 1, select('#', ...) do out[#out + 1] = tostring((select(i, ...))) end
  end
  add(pcall(find, s, p, init))
  add(pcall(match, s, p, init))
  add(pcall(gsub, s, p, r))
  add(pcall(function() local n = 0 for a, b in gmatch(s, p) do add(true, a, b); n = n + 1; if n > 100 then break end end end))
  return table.concat(out, '\1')
end
return run(string.find, string.match, string.gmatch, string.gsub) ==
       run(bounded_find, bounded_match, bounded_gmatch, bounded_gsub)
)lua";

lua_State* make_state() {
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  lua_register(L, "bounded_find", bounded_find);
  lua_register(L, "bounded_match", bounded_match);
  lua_register(L, "bounded_gmatch", bounded_gmatch);
  lua_register(L, "bounded_gsub", bounded_gsub);
  if (luaL_loadstring(L, compare) != 0) __builtin_trap();
  lua_setfield(L, LUA_REGISTRYINDEX, "compare");
  return L;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static lua_State* L = make_state();
  if (size < 3 || size > 96) return 0;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t first = input.find('\n');
  const std::size_t second = first == std::string::npos ? std::string::npos : input.find('\n', first + 1);
  if (second == std::string::npos) return 0;
  // The library's matcher backtracks without a bound: few repetitions only.
  const std::string pattern = input.substr(first + 1, second - first - 1);
  int repetitions = 0;
  for (const char c : pattern) repetitions += c == '*' || c == '+' || c == '-' || c == '?';
  if (first > 48 || pattern.size() > 24 || repetitions > 4) return 0;
  lua_getfield(L, LUA_REGISTRYINDEX, "compare");
  lua_pushlstring(L, input.data(), first);
  lua_pushlstring(L, pattern.data(), pattern.size());
  lua_pushlstring(L, input.data() + second + 1, size - second - 1);
  lua_pushinteger(L, static_cast<lua_Integer>(data[0] % 8) - 3);
  if (lua_pcall(L, 4, 1, 0) != 0 || !lua_toboolean(L, -1)) __builtin_trap();
  lua_settop(L, 0);
  return 0;
}
