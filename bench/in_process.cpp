#include "bench/in_process.h"

#include <stdexcept>

#include "filter/load_filter.h"
#include "script/callbacks.h"

open_state::open_state(const std::string& script_path) : state_(new script_state) {
  try {
    open_script_state(*state_, script_path);
  } catch (const script_load_error&) {
    delete state_;
    throw std::runtime_error("cannot open a state from " + script_path);
  }
}

open_state::~open_state() { close_script_state(state_); }

request_side::request_side(const std::string& script_path, int pool_size) {
  for (int i = 0; i < pool_size; ++i) {
    filter_.pool_states.push_back(new script_state);
    open_script_state(*filter_.pool_states.back(), script_path);
  }
  filter_.state_pool =
      new guarded_queue<script_state>(filter_.pool_states.data(), filter_.pool_states.size());
  filter_.record_queue = new guarded_queue<record>();
  filter_gate::phase ignored;
  filter_.gate.begin_load(ignored);
  filter_.gate.end_load(true);
}

request_side::~request_side() {
  clear_records();
  delete filter_.record_queue;
  delete filter_.state_pool;
  for (script_state* state : filter_.pool_states) close_script_state(state);
}

void request_side::notify(reference_request& request) {
  handle_notification(filter_, &request.context, SF_NOTIFY_LOG, &request.log);
}

void request_side::clear_records() {
  guarded_queue<record>& queue = *filter_.record_queue;
  while (queue.size() != 0) delete queue.take();
}

bool fill_records(script_state& state, reference_request& request, guarded_queue<record>& queue,
                  std::size_t count) {
  request_handle handle{&request.context, &request.log};
  for (std::size_t i = 0; i < count; ++i) {
    record* made = nullptr;
    if (!run_on_enqueue(state, &handle, made)) return false;
    queue.put(made);
  }
  return true;
}
