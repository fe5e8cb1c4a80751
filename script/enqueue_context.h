// The enqueue_context object type: the script's view of the request being logged.
#pragma once

#include <cstdint>

#include "script/request_handle.h"

struct lua_State;
struct state_slots;

// Registry name of the objects' metatable.
constexpr const char* enqueue_context_type = "quillharbor.enqueue_context";

// Installs the metatable with its six methods, the global table
// enqueue_context with `new`, and the global quillharbor_log_numbers. Raises
// Lua errors: call it under protection.
void register_enqueue_context(lua_State* L);

// Marks `handle` as the request of L's running on_enqueue call for the scope's
// lifetime. enqueue_context.new accepts only this handle, and an object made in
// one scope is refused in every later one, even when the next request's handle
// has the same address. The mark is L's (state_slots.h), so no thread-local is
// touched; a state without slots accepts no handle.
class live_request {
 public:
  live_request(lua_State* L, request_handle* handle) noexcept;
  ~live_request();
  live_request(const live_request&) = delete;
  live_request& operator=(const live_request&) = delete;

 private:
  state_slots* slots_;
  request_handle* previous_handle_;
  std::uint64_t previous_generation_;
};
