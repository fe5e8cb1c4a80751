// The floor: the reference script's work with bare Lua C API calls in one
// thread and one state, no queues, no locks, no checks beyond the interpreter's.
#include <benchmark/benchmark.h>

#include <lua.hpp>

#include <string>

#include "bench/floor.h"
#include "bench/reference.h"

namespace {

const char context_type[] = "bench.enqueue_context";

struct request_ref {
  HTTP_FILTER_CONTEXT* context;
  HTTP_FILTER_LOG* log;
};

request_ref& checked(lua_State* L) {
  return **static_cast<request_ref**>(luaL_checkudata(L, 1, context_type));
}

int context_new(lua_State* L) {
  auto* block = static_cast<request_ref**>(lua_newuserdata(L, sizeof(request_ref*)));
  *block = static_cast<request_ref*>(lua_touserdata(L, 1));
  luaL_getmetatable(L, context_type);
  lua_setmetatable(L, -2);
  return 1;
}

int server_variable(lua_State* L) {
  request_ref& request = checked(L);
  const char* name = luaL_checkstring(L, 2);
  char value[2048];
  DWORD size = sizeof value;
  if (!request.context->GetServerVariable(request.context, const_cast<char*>(name), value, &size))
    value[0] = '\0';
  lua_pushstring(L, value);
  return 1;
}

int http_status(lua_State* L) { return lua_pushnumber(L, checked(L).log->dwHttpStatus), 1; }
int win32_status(lua_State* L) { return lua_pushnumber(L, checked(L).log->dwWin32Status), 1; }
int bytes_sent(lua_State* L) { return lua_pushnumber(L, checked(L).log->dwBytesSent), 1; }
int bytes_recvd(lua_State* L) { return lua_pushnumber(L, checked(L).log->dwBytesRecvd), 1; }
int process_time(lua_State* L) { return lua_pushnumber(L, checked(L).log->msTimeForProcessing), 1; }

const luaL_Reg methods[] = {
    {"server_variable", server_variable}, {"http_status", http_status},
    {"win32_status", win32_status},       {"bytes_sent", bytes_sent},
    {"bytes_recvd", bytes_recvd},         {"process_time", process_time},
    {nullptr, nullptr},
};
const luaL_Reg functions[] = {{"new", context_new}, {nullptr, nullptr}};

lua_State* open_floor_state() {
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  luaL_newmetatable(L, context_type);
  lua_pushvalue(L, -1);
  lua_setfield(L, -2, "__index");
  luaL_register(L, nullptr, methods);
  luaL_register(L, "enqueue_context", functions);
  lua_settop(L, 0);
  if (luaL_loadstring(L, reference_script) != 0 || lua_pcall(L, 0, 0, 0) != 0) {
    lua_close(L);
    return nullptr;
  }
  return L;
}

// One request: on_enqueue, its table copied as key NUL value NUL pairs into
// one allocation, the on_dequeue table built from the copy, on_dequeue called.
bool one_request(lua_State* L, request_ref* request, lua_Number number) {
  lua_getfield(L, LUA_GLOBALSINDEX, "on_enqueue");
  lua_pushlightuserdata(L, request);
  if (lua_pcall(L, 1, 2, 0) != 0 || !lua_toboolean(L, -2) || !lua_istable(L, -1)) return false;
  std::string copy;
  copy.reserve(256);
  int fields = 0;
  lua_pushnil(L);
  while (lua_next(L, -2) != 0) {
    lua_pushvalue(L, -2);
    std::size_t length;
    const char* key = lua_tolstring(L, -1, &length);
    copy.append(key, length + 1);
    const char* value = lua_tolstring(L, -2, &length);
    copy.append(value, length + 1);
    ++fields;
    lua_pop(L, 2);
  }
  lua_settop(L, 0);

  lua_getfield(L, LUA_GLOBALSINDEX, "on_dequeue");
  lua_createtable(L, 0, fields);
  for (const char* p = copy.data(); fields-- > 0;) {
    const char* key = p;
    p += std::char_traits<char>::length(p) + 1;
    lua_pushstring(L, p);
    p += std::char_traits<char>::length(p) + 1;
    lua_setfield(L, -2, key);
  }
  lua_pushnumber(L, number);
  return lua_pcall(L, 2, 0, 0) == 0;
}

void BM_floor(benchmark::State& state) {
  lua_State* L = open_floor_state();
  if (L == nullptr) {
    state.SkipWithError("the reference script did not load");
    return;
  }
  reference_request request;
  request_ref ref{&request.context, &request.log};
  lua_Number number = 0;
  for (auto _ : state) {
    if (!one_request(L, &ref, number++)) {
      state.SkipWithError("the reference script failed");
      break;
    }
  }
  lua_close(L);
}

}  // namespace

bool floor_requests(std::size_t count) {
  lua_State* L = open_floor_state();
  if (L == nullptr) return false;
  reference_request request;
  request_ref ref{&request.context, &request.log};
  bool ok = true;
  for (std::size_t i = 0; ok && i < count; ++i) ok = one_request(L, &ref, static_cast<lua_Number>(i));
  lua_close(L);
  return ok;
}

BENCHMARK(BM_floor);
