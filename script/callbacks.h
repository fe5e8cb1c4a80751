// The four calls into the user script and the failures they raise.
#pragma once

#include <cstdint>
#include <string>

#include "script/record.h"
#include "script/request_handle.h"
#include "script/script_state.h"

// A callback raised an error: code is the protected call's status (2 run-time,
// 4 memory, 5 error handler), message the error value's text.
struct script_exec_error {
  std::int32_t code;
  std::string message;
};

// on_enqueue returned results of the wrong shape.
struct script_result_error {
  std::string message;
};

// on_init / on_term in the main state: the truth of the first result.
// Throw script_exec_error. The stack is empty afterwards.
bool run_on_init(script_state& main_state);
bool run_on_term(script_state& main_state);

// on_enqueue(handle) in a pool state. True with a new record in `out` when the
// script keeps the notification; false leaves `out` untouched. Throws
// script_exec_error or script_result_error, and then no record exists; memory
// running out while the record is copied is script_exec_error code 4.
// `handle` need live only for the call: objects made from it refuse later use.
bool run_on_enqueue(script_state& pool_state, request_handle* handle, record*& out);

// How on_enqueue ended, for callers that must not throw: on MinGW a thread's
// first C++ throw allocates the run time's exception state, and the process
// ends when that allocation fails.
struct enqueue_outcome {
  enum class ending { dropped, kept, exec_error, result_error };
  ending end = ending::dropped;
  record* made = nullptr;  // kept: the new record, the caller's from here on
  std::int32_t code = 0;   // exec_error: as script_exec_error's
  std::string message;     // exec_error and result_error; empty when memory ran out
};

// As run_on_enqueue, with the failure in the result: throws nothing itself.
enqueue_outcome try_on_enqueue(script_state& pool_state, request_handle* handle) noexcept;

// on_dequeue(fields, record_number) in the main state. Always destroys `rec`.
// Throws script_exec_error (the stack is then empty; otherwise as it was).
void run_on_dequeue(script_state& main_state, record* rec, std::int32_t record_number);
