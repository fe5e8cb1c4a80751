#include "script/enqueue_context.h"

#include <atomic>
#include <lua.hpp>

#include "script/server_variable.h"
#include "script/state_slots.h"

namespace {

// What an object holds: the handle and the scope it was made in.
struct context_block {
  request_handle* handle;
  std::uint64_t generation;
};

// Shared by all threads, so a generation is never live twice anywhere.
std::atomic<std::uint64_t> next_generation{1};

// The live request of L's state. Kept outside the interpreter's objects, so
// that no script can forge or change it.
struct live_mark {
  request_handle* handle;
  std::uint64_t generation;
};

live_mark live_of(lua_State* L) noexcept {
  const state_slots* slots = slots_of(L);
  if (slots == nullptr) return {nullptr, 0};
  return {slots->live_handle, slots->live_generation};
}

int context_new(lua_State* L) {
  const live_mark live = live_of(L);
  void* handle = lua_type(L, 1) == LUA_TLIGHTUSERDATA ? lua_touserdata(L, 1) : nullptr;
  if (handle == nullptr) return luaL_argerror(L, 1, "'handle to enqueue_context' expected");
  if (handle != live.handle)
    return luaL_argerror(L, 1, "'handle to enqueue_context' expected, got one that is not live");
  auto* block = static_cast<context_block*>(lua_newuserdata(L, sizeof(context_block)));
  block->handle = live.handle;
  block->generation = live.generation;
  luaL_getmetatable(L, enqueue_context_type);
  // A script with the debug library may have replaced the registry entry.
  if (lua_istable(L, -1)) {
    lua_setmetatable(L, -2);
  } else {
    lua_pop(L, 1);
  }
  return 1;
}

// Argument 1's block when its metatable is the one the method was made with
// (upvalue 1); else luaL_checkudata's answer, or its error. A script calls
// these methods many times per request, and the registry lookup by name
// costs more than the method's own work.
const void* context_udata(lua_State* L) {
  if (lua_type(L, 1) == LUA_TUSERDATA && lua_getmetatable(L, 1)) {
    const bool same = lua_rawequal(L, -1, lua_upvalueindex(1)) != 0;
    lua_pop(L, 1);
    if (same) return lua_touserdata(L, 1);
  }
  return luaL_checkudata(L, 1, enqueue_context_type);
}

// Argument 1 as an object of the running on_enqueue call, or a Lua error.
const request_handle& live_context(lua_State* L) {
  const auto* block = static_cast<const context_block*>(context_udata(L));
  // debug.setmetatable can give the metatable to a userdata of another size.
  if (lua_objlen(L, 1) != sizeof(context_block))
    luaL_argerror(L, 1, "quillharbor.enqueue_context expected, got a foreign userdata");
  const live_mark live = live_of(L);
  if (live.handle == nullptr || block->generation != live.generation || block->handle != live.handle)
    luaL_error(L, "enqueue_context used after its on_enqueue call returned");
  return *block->handle;
}

const HTTP_FILTER_LOG& live_log_record(lua_State* L) {
  const request_handle& handle = live_context(L);
  if (handle.log_record == nullptr) luaL_error(L, "enqueue_context has no log record");
  return *handle.log_record;
}

int push_field(lua_State* L, DWORD value) {
  lua_pushnumber(L, static_cast<lua_Number>(value));
  return 1;
}

int http_status(lua_State* L) { return push_field(L, live_log_record(L).dwHttpStatus); }
int win32_status(lua_State* L) { return push_field(L, live_log_record(L).dwWin32Status); }
int bytes_sent(lua_State* L) { return push_field(L, live_log_record(L).dwBytesSent); }
int bytes_recvd(lua_State* L) { return push_field(L, live_log_record(L).dwBytesRecvd); }
int process_time(lua_State* L) { return push_field(L, live_log_record(L).msTimeForProcessing); }

// One value per name, in order: a script that reads several pays for one call.
// Every name is checked before the first is read.
int server_variable(lua_State* L) {
  const request_handle& handle = live_context(L);
  const int last = lua_gettop(L) < 2 ? 2 : lua_gettop(L);
  // A string needs no check; anything else is turned into one or raises.
  for (int i = 2; i <= last; ++i)
    if (lua_type(L, i) != LUA_TSTRING) luaL_checkstring(L, i);
  luaL_checkstack(L, last - 1, "too many server variables");
  first_read_buffer first;
  for (int i = 2; i <= last; ++i) push_server_variable(L, handle.filter_context, lua_tostring(L, i), first);
  return last - 1;
}

// quillharbor_log_numbers(ctx): the five numbers of the log record in the
// order of the methods below, for the cost of one call.
int log_numbers(lua_State* L) {
  const HTTP_FILTER_LOG& log = live_log_record(L);
  for (DWORD value : {log.dwHttpStatus, log.dwWin32Status, log.dwBytesSent, log.dwBytesRecvd,
                      log.msTimeForProcessing})
    lua_pushnumber(L, static_cast<lua_Number>(value));
  return 5;
}

const luaL_Reg methods[] = {
    {"server_variable", server_variable},
    {"http_status", http_status},
    {"win32_status", win32_status},
    {"bytes_sent", bytes_sent},
    {"bytes_recvd", bytes_recvd},
    {"process_time", process_time},
    {nullptr, nullptr},
};

const luaL_Reg functions[] = {
    {"new", context_new},
    {nullptr, nullptr},
};

}  // namespace

void register_enqueue_context(lua_State* L) {
  luaL_newmetatable(L, enqueue_context_type);
  lua_pushstring(L, "__index");
  lua_pushvalue(L, -2);
  lua_settable(L, -3);
  // [mt] -> [mt]: each method holds the metatable as its upvalue.
  for (const luaL_Reg* method = methods; method->name != nullptr; ++method) {
    lua_pushvalue(L, -1);
    lua_pushcclosure(L, method->func, 1);
    lua_setfield(L, -2, method->name);
  }
  lua_pushvalue(L, -1);
  lua_pushcclosure(L, log_numbers, 1);
  lua_setfield(L, LUA_GLOBALSINDEX, "quillharbor_log_numbers");
  luaL_register(L, "enqueue_context", functions);
  lua_pop(L, 2);
}

live_request::live_request(lua_State* L, request_handle* handle) noexcept
    : slots_(slots_of(L)), previous_handle_(nullptr), previous_generation_(0) {
  if (slots_ == nullptr) return;
  previous_handle_ = slots_->live_handle;
  previous_generation_ = slots_->live_generation;
  slots_->live_handle = handle;
  slots_->live_generation = next_generation.fetch_add(1, std::memory_order_relaxed);
}

live_request::~live_request() {
  if (slots_ == nullptr) return;
  slots_->live_handle = previous_handle_;
  slots_->live_generation = previous_generation_;
}
