#include "filter/load_filter.h"

#include <exception>
#include <new>
#include <sstream>

#include "filter/diagnostics.h"
#include "script/callbacks.h"

namespace {

void trace_failure(const char* what) noexcept {
  try {
    std::ostringstream text;
    text << "error:" << " on_enqueue" << " message:" << what;
    if (!text) return;  // out of memory mid-way: the text is cut short
    debug_trace(text.str());
  } catch (...) {
  }
}

// Runs on_enqueue; every failure ends here as one trace line and no record.
record* make_record(script_state& state, request_handle& handle) noexcept {
  record* made = nullptr;
  try {
    if (run_on_enqueue(state, &handle, made)) return made;
  } catch (const script_exec_error& e) {
    try {
      std::ostringstream text;
      text << "error:" << " on_enqueue" << " code:" << e.code << " message:" << e.message;
      if (text) debug_trace(text.str());  // a stream out of memory cuts the text short
    } catch (...) {
    }
  } catch (const script_result_error& e) {
    trace_failure(e.message.c_str());
  } catch (const std::bad_alloc&) {
    trace_failure("not enough memory");
  } catch (const std::exception& e) {
    trace_failure(e.what());
  } catch (...) {
    trace_failure("unexpected failure");
  }
  return nullptr;
}

}  // namespace

DWORD handle_notification(filter_state& filter, HTTP_FILTER_CONTEXT* context,
                          DWORD notification_type, void* notification) noexcept {
  if (notification_type != SF_NOTIFY_LOG) return SF_STATUS_REQ_NEXT_NOTIFICATION;
  const in_flight_pass pass(filter.gate);  // unload frees nothing while we are inside
  if (!pass) return SF_STATUS_REQ_NEXT_NOTIFICATION;

  script_state* state = nullptr;
  try {
    state = filter.state_pool->take();
  } catch (...) {
    trace_failure("the state pool failed");
    return SF_STATUS_REQ_NEXT_NOTIFICATION;
  }

  request_handle handle{context, static_cast<HTTP_FILTER_LOG*>(notification)};
  record* made = make_record(*state, handle);

  // The state goes back before the record is queued: no thread ever holds
  // both queues' locks.
  try {
    filter.state_pool->put(state);
  } catch (...) {
    trace_failure("the state pool failed");
  }
  if (made != nullptr) {
    try {
      filter.record_queue->put(made);
    } catch (const std::bad_alloc&) {
      delete made;  // not stored: still ours
      trace_failure("not enough memory");
    } catch (...) {
      // It may have been stored and already taken: neither free nor reuse it.
      trace_failure("the record queue failed");
    }
  }
  return SF_STATUS_REQ_NEXT_NOTIFICATION;
}
