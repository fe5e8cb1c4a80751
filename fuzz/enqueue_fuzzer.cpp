// A table of fuzzed shape returned by on_enqueue, through the check and copy
// passes of run_on_enqueue and back out through run_on_dequeue. The script
// decodes the input into results and predicts, by the result rules, the
// failure or the record; the record that comes out must match the prediction.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include <lua.hpp>

#include "script/callbacks.h"
#include "script/record.h"
#include "script/script_state.h"

namespace {

// The decoder and the oracle, in the script itself: pairs visits a table in
// the order lua_next does, so it predicts which bad pair the check pass meets
// first and which of two equal keys the copy pass keeps.
const char* const script = R"lua(
local input = ''
local pos = 1
local function byte()
  local b = input:byte(pos) or 0
  pos = pos + 1
  return b
end
local function str()
  local n = byte() % 16
  local s = input:sub(pos, pos + n - 1)
  pos = pos + n
  return s
end
local handle
local table_of
local function scalar(depth)
  local kind = byte() % 13
  if kind == 0 then return str()
  elseif kind == 1 then return byte() - 128
  elseif kind == 2 then return (byte() * 256 + byte()) / (byte() + 1)
  elseif kind == 3 then return 2 ^ (byte() - 128) * (byte() % 2 == 0 and 1 or -1)
  elseif kind == 4 then return byte() % 2 == 0
  elseif kind == 5 then return depth < 3 and table_of(depth + 1) or {}
  elseif kind == 6 then return print
  elseif kind == 7 then return handle
  elseif kind == 8 then return newproxy()
  elseif kind == 9 then return str() .. '\0' .. str()
  elseif kind == 10 then return (byte() % 2 == 0 and 1 or -1) / 0
  elseif kind == 11 then return -0.0
  else return tostring(byte() % 8) end
end
function table_of(depth)
  local t = {}
  for i = 1, byte() % 24 do
    local k, v = scalar(depth), scalar(depth)
    if k == k then t[k] = v end
  end
  return t
end

local function text(x)
  if type(x) == 'number' then return string.format('%.14g', x) end
  return x
end
local function cut(s) return (s:match('^[^%z]*')) end

function on_enqueue(h)
  handle, pos = h, 1
  input = fuzz_input
  local keep = ({false, nil, true, 0, '', {}})[byte() % 6 + 1]
  local shape = byte() % 5
  local fields = table_of(0)
  local second = ({fields, nil, 42, 'text'})[shape + 1]  -- 4: no second result
  expected, expected_error = nil, nil
  if keep then
    if type(second) ~= 'table' then
      expected_error = 'return value: table expected'
    else
      for k, v in pairs(second) do
        if type(k) ~= 'string' and type(k) ~= 'number' then
          expected_error = 'return value: table, that has string key expected'
          break
        end
        if type(v) ~= 'string' and type(v) ~= 'number' then
          expected_error = 'return value: table, that has string value expected'
          break
        end
      end
      if not expected_error then
        expected = {}
        for k, v in pairs(second) do expected[cut(text(k))] = cut(text(v)) end
      end
    end
  end
  if shape == 4 then return keep end
  return keep, second
end

function on_dequeue(fields, n)
  dequeued_ok = true
  for k, v in pairs(fields) do
    if type(v) ~= 'string' or expected[k] ~= v then dequeued_ok = false end
  end
  for k, v in pairs(expected) do
    if fields[k] ~= v then dequeued_ok = false end
  end
end
)lua";

script_state& the_state() {
  static script_state* state = [] {
    const std::string path = "/tmp/quillharbor-enqueue-fuzz-" + std::to_string(::getpid()) + ".lua";
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) __builtin_trap();
    std::fputs(script, file);
    std::fclose(file);
    auto* made = new script_state;
    open_script_state(*made, path);
    std::remove(path.c_str());
    return made;
  }();
  return *state;
}

struct input_bytes {
  const std::uint8_t* data;
  std::size_t size;
};

int set_input(lua_State* L) {
  const auto* input = static_cast<const input_bytes*>(lua_touserdata(L, 1));
  lua_pushlstring(L, reinterpret_cast<const char*>(input->data), input->size);
  lua_setfield(L, LUA_GLOBALSINDEX, "fuzz_input");
  return 0;
}

// The global `name` as a string, or "" for nil. Under protection.
struct global_text {
  const char* name;
  std::string text;
  bool is_nil;
};

int read_global(lua_State* L) {
  auto* global = static_cast<global_text*>(lua_touserdata(L, 1));
  lua_getfield(L, LUA_GLOBALSINDEX, global->name);
  global->is_nil = lua_isnil(L, -1);
  if (lua_type(L, -1) == LUA_TSTRING) global->text.assign(lua_tostring(L, -1), lua_objlen(L, -1));
  return 0;
}

global_text global(lua_State* L, const char* name) {
  global_text g{name, {}, true};
  if (lua_cpcall(L, read_global, &g) != 0) __builtin_trap();
  lua_settop(L, 0);
  return g;
}

// The record against the predicted table: same pairs, keys ascending and unique.
struct record_check {
  const record* rec;
  bool matches;
};

int check_record(lua_State* L) {
  auto* check = static_cast<record_check*>(lua_touserdata(L, 1));
  lua_getfield(L, LUA_GLOBALSINDEX, "expected");
  if (!lua_istable(L, -1)) return 0;
  std::size_t predicted = 0;
  lua_pushnil(L);
  while (lua_next(L, -2) != 0) {
    ++predicted;
    lua_pop(L, 1);
  }
  if (predicted != check->rec->size()) return 0;
  std::string previous;
  bool first = true;
  for (const record::field f : *check->rec) {
    const std::string key(f.key), value(f.value);
    if (key.find('\0') != std::string::npos || value.find('\0') != std::string::npos) return 0;
    if (!first && !(previous < key)) return 0;
    first = false;
    previous = key;
    lua_pushlstring(L, key.data(), key.size());
    lua_rawget(L, -2);
    if (lua_type(L, -1) != LUA_TSTRING || value != lua_tostring(L, -1)) return 0;
    lua_pop(L, 1);
  }
  check->matches = true;
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  script_state& state = the_state();
  lua_State* L = state.L;
  input_bytes input{data, size};
  if (lua_cpcall(L, set_input, &input) != 0) __builtin_trap();
  request_handle handle{nullptr, nullptr};
  record* made = nullptr;
  bool kept = false;
  try {
    kept = run_on_enqueue(state, &handle, made);
  } catch (const script_result_error& e) {
    if (lua_gettop(L) != 0) __builtin_trap();
    const global_text predicted = global(L, "expected_error");
    if (predicted.is_nil || predicted.text != e.message) __builtin_trap();
    return 0;
  } catch (const script_exec_error& e) {
    std::fprintf(stderr, "on_enqueue failed: %d %s\n", e.code, e.message.c_str());
    __builtin_trap();
  }
  if (lua_gettop(L) != 0) __builtin_trap();
  if (!global(L, "expected_error").is_nil) __builtin_trap();
  if (!kept) {
    if (made != nullptr || !global(L, "expected").is_nil) __builtin_trap();
    return 0;
  }
  record_check check{made, false};
  if (lua_cpcall(L, check_record, &check) != 0 || !check.matches) __builtin_trap();
  lua_settop(L, 0);
  run_on_dequeue(state, made, 0);
  lua_getfield(L, LUA_GLOBALSINDEX, "dequeued_ok");
  if (!lua_toboolean(L, -1)) __builtin_trap();
  lua_settop(L, 0);
  return 0;
}
