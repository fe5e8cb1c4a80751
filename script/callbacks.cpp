#include "script/callbacks.h"

#include <climits>
#include <lua.hpp>
#include <memory>
#include <new>

#include "script/enqueue_context.h"
#include "script/error_text.h"
#include "script/state_stack.h"

// Each callback runs as one native function under lua_cpcall: fetching the
// global, pushing the arguments, the call itself and the work on its results
// may all raise (a metatable on _G, a memory error, a finaliser run by a
// collection step), and none of it may reach the panic function.

namespace {

// Empties the stack when the caller leaves, whichever way.
class stack_reset {
 public:
  explicit stack_reset(lua_State* L) noexcept : L_(L) {}
  ~stack_reset() { lua_settop(L_, 0); }
  stack_reset(const stack_reset&) = delete;
  stack_reset& operator=(const stack_reset&) = delete;

 private:
  lua_State* L_;
};

// After a failed lua_cpcall: the error value is on top of the stack.
[[noreturn]] void throw_exec_error(lua_State* L, int status) {
  const stack_reset reset(L);
  throw script_exec_error{status, error_value_text(L, -1)};
}

// Pushes the global callback `name`: [] -> [callback].
void push_callback(lua_State* L, const char* name) { lua_getfield(L, LUA_GLOBALSINDEX, name); }

struct truth_call {
  const char* name;
  bool result;
};

// [ud] -> [ud, result]
int call_for_truth(lua_State* L) {
  auto* call = static_cast<truth_call*>(lua_touserdata(L, 1));
  push_callback(L, call->name);
  lua_call(L, 0, 1);
  call->result = lua_toboolean(L, -1) != 0;
  return 0;
}

bool run_for_truth(script_state& state, const char* name) {
  truth_call call{name, false};
  const int status = call_on_state_stack(state.L, state.stack, call_for_truth, &call);
  if (status != 0) throw_exec_error(state.L, status);
  lua_settop(state.L, 0);
  return call.result;
}

struct enqueue_call {
  request_handle* handle;
  bool kept;
  const char* result_error;
  record* made;  // null after kept when memory ran out
};

// Copies the table at `index` into a new record in one pass; null when memory
// runs out, or with `error` naming the first pair that is not string or number
// to string or number (reported even when memory ran out first). Numbers are
// converted outside the state and lua_next on an unchanged table cannot raise,
// so no Lua error can jump over the C++ objects.
record* copy_fields(lua_State* L, int index, const char*& error) noexcept {
  record_builder builder;
  bool memory_short = false;
  char key_number[number_text_size];
  char value_number[number_text_size];
  lua_pushnil(L);
  while (lua_next(L, index) != 0) {
    if (!lua_isstring(L, -2)) error = "return value: table, that has string key expected";
    else if (!lua_isstring(L, -1)) error = "return value: table, that has string value expected";
    if (error != nullptr) return nullptr;
    try {
      if (!memory_short)
        builder.add(plain_text_view(L, -2, key_number), plain_text_view(L, -1, value_number));
    } catch (const std::bad_alloc&) {
      memory_short = true;
    }
    lua_pop(L, 1);
  }
  if (memory_short) return nullptr;
  try {
    return builder.build();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// [ud] -> [ud, keep, fields, ...]
int call_on_enqueue(lua_State* L) {
  auto* call = static_cast<enqueue_call*>(lua_touserdata(L, 1));
  push_callback(L, "on_enqueue");
  lua_pushlightuserdata(L, call->handle);
  lua_call(L, 1, 2);
  if (!lua_toboolean(L, 2)) return 0;
  if (!lua_istable(L, 3)) {
    call->result_error = "return value: table expected";
    return 0;
  }
  call->made = copy_fields(L, 3, call->result_error);
  call->kept = call->result_error == nullptr;
  return 0;
}

struct dequeue_call {
  std::unique_ptr<record>* rec;
  std::int32_t record_number;
};

// [ud] -> [ud]; the record is destroyed once its table is built.
int call_on_dequeue(lua_State* L) {
  auto* call = static_cast<dequeue_call*>(lua_touserdata(L, 1));
  push_callback(L, "on_dequeue");
  std::unique_ptr<record>& rec = *call->rec;
  const std::size_t count = rec ? rec->size() : 0;
  lua_createtable(L, 0, count > INT_MAX ? INT_MAX : static_cast<int>(count));
  if (rec) {
    // Only views into the record live here: nothing for a raised error to skip.
    for (const record::field field : *rec) {
      lua_pushlstring(L, field.key.data(), field.key.size());
      lua_pushlstring(L, field.value.data(), field.value.size());
      lua_rawset(L, -3);
    }
  }
  rec.reset();
  lua_pushnumber(L, static_cast<lua_Number>(call->record_number));
  lua_call(L, 2, 0);
  return 0;
}

}  // namespace

bool run_on_init(script_state& main_state) { return run_for_truth(main_state, "on_init"); }

bool run_on_term(script_state& main_state) { return run_for_truth(main_state, "on_term"); }

enqueue_outcome try_on_enqueue(script_state& pool_state, request_handle* handle) noexcept {
  using ending = enqueue_outcome::ending;
  lua_State* L = pool_state.L;
  enqueue_call call{handle, false, nullptr, nullptr};
  int status;
  {
    const live_request live(L, handle);
    status = call_on_state_stack(L, pool_state.stack, call_on_enqueue, &call);
  }
  enqueue_outcome outcome;
  const stack_reset reset(L);
  if (status == 0 && call.kept && call.made != nullptr) {
    outcome.end = ending::kept;
    outcome.made = call.made;
    return outcome;
  }
  if (status == 0 && !call.kept && call.result_error == nullptr) return outcome;
  outcome.end = status == 0 && call.result_error != nullptr ? ending::result_error : ending::exec_error;
  outcome.code = status != 0 ? status : LUA_ERRMEM;
  try {
    outcome.message = status != 0                  ? error_value_text(L, -1)
                      : call.result_error != nullptr ? std::string(call.result_error)
                                                     : std::string("not enough memory");
  } catch (...) {
    // Out of memory: the failure is still reported, without its text.
  }
  return outcome;
}

bool run_on_enqueue(script_state& pool_state, request_handle* handle, record*& out) {
  enqueue_outcome outcome = try_on_enqueue(pool_state, handle);
  switch (outcome.end) {
    case enqueue_outcome::ending::exec_error:
      throw script_exec_error{outcome.code, std::move(outcome.message)};
    case enqueue_outcome::ending::result_error:
      throw script_result_error{std::move(outcome.message)};
    case enqueue_outcome::ending::kept:
      out = outcome.made;
      return true;
    case enqueue_outcome::ending::dropped:
      break;
  }
  return false;
}

void run_on_dequeue(script_state& main_state, record* rec, std::int32_t record_number) {
  std::unique_ptr<record> owned(rec);
  dequeue_call call{&owned, record_number};
  const int status = call_on_state_stack(main_state.L, main_state.stack, call_on_dequeue, &call);
  if (status != 0) {
    owned.reset();
    throw_exec_error(main_state.L, status);
  }
}
