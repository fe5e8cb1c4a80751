#include "bench/in_process.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <stdexcept>

#include "bench/bench_scale.h"
#include "filter/load_filter.h"
#include "script/callbacks.h"
#include "workqueue/worker.h"

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

void drain_batches(benchmark::State& state, script_state& main_state, script_state& pool_state,
                   reference_request& request) {
  const std::int32_t process_interval = 0;
  const auto batch = static_cast<benchmark::IterationCount>(bench_batch);
  while (state.KeepRunningBatch(batch)) {
    state.PauseTiming();
    auto queue = std::make_unique<guarded_queue<record>>();
    const bool filled = fill_records(pool_state, request, *queue, static_cast<std::size_t>(batch));
    worker_context context;
    context.record_queue = queue.get();
    context.main_state = &main_state;
    context.process_interval = &process_interval;
    state.ResumeTiming();
    if (!filled) {
      state.SkipWithError("on_enqueue kept no record");
      break;
    }
    const platform::thread_handle thread = start_worker(context);
    if (thread == nullptr || stop_worker(context, thread) != worker_end::stopped) {
      state.SkipWithError("the worker did not run");
      break;
    }
  }
}
