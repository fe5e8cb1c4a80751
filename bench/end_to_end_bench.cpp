// The whole cost of one request through the real module, one request thread:
// batches of requests, each ended by TerminateFilter, which returns once the
// worker has drained them. CPU time of the whole process (request thread and
// worker), per request, is the figure to hold against the floor; the context
// switches per request show how often the worker slept and was woken.
#include <benchmark/benchmark.h>

#include "bench/bench_scale.h"
#include "bench/in_process.h"
#include "bench/process_usage.h"
#include "bench/staged_filter.h"
#include "script/callbacks.h"

namespace {

void BM_end_to_end(benchmark::State& state) {
  script_directory script;
  staged_filter filter(script.script_path(), 1);
  reference_request request;
  const auto batch = static_cast<benchmark::IterationCount>(bench_batch);
  process_usage spent;
  while (state.KeepRunningBatch(batch)) {
    state.PauseTiming();
    const bool loaded = filter.load();
    state.ResumeTiming();
    if (!loaded) {
      state.SkipWithError("GetFilterVersion failed");
      break;
    }
    const process_usage before = process_usage::now();
    for (benchmark::IterationCount i = 0; i < batch; ++i) filter.notify(request);
    filter.terminate();
    const process_usage used = process_usage::now() - before;
    spent.voluntary_switches += used.voluntary_switches;
    spent.involuntary_switches += used.involuntary_switches;
  }
  if (filter.trace_lines() != 0) state.SkipWithError("the script failed");
  state.SetItemsProcessed(state.iterations());
  const double requests = static_cast<double>(state.iterations());
  state.counters["sleeps_per_request"] = static_cast<double>(spent.voluntary_switches) / requests;
  state.counters["preempted_per_request"] =
      static_cast<double>(spent.involuntary_switches) / requests;
}

}  // namespace

BENCHMARK(BM_end_to_end)->MeasureProcessCPUTime()->Unit(benchmark::kNanosecond);

namespace {

// The module's own steps for one request in one thread, without threads to
// wake: take a pool state, on_enqueue, give it back, queue the record, take it,
// on_dequeue. Set against the floor, this is what the module's code adds.
void BM_serial_path(benchmark::State& state) {
  script_directory script;
  open_state main_state(script.script_path());
  script_state* pool_state = new script_state;
  open_script_state(*pool_state, script.script_path());
  guarded_queue<script_state> state_pool(&pool_state, 1);
  guarded_queue<record> record_queue;
  reference_request request;
  std::int32_t number = 0;
  for (auto _ : state) {
    script_state* borrowed = state_pool.take();
    request_handle handle{&request.context, &request.log};
    record* made = nullptr;
    const bool kept = run_on_enqueue(*borrowed, &handle, made);
    state_pool.put(borrowed);
    if (!kept) {
      state.SkipWithError("on_enqueue kept no record");
      break;
    }
    record_queue.put(made);
    run_on_dequeue(main_state.get(), record_queue.take(), number++);
  }
  close_script_state(pool_state);
}

}  // namespace

BENCHMARK(BM_serial_path)->Unit(benchmark::kNanosecond);
