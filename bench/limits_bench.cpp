// What the production settings cost a request thread, in this process with no
// worker: a record queued against one freed at a full queue (queue limit), and
// the serial path with and without the callback time limit's hook.
#include <benchmark/benchmark.h>

#include "bench/in_process.h"
#include "script/callbacks.h"
#include "script/time_limit.h"

namespace {

constexpr std::int32_t limit = 1000;

// arg 0: no limit, every record queued (and cleared, untimed, every `limit`);
// arg 1: the queue held at the limit, every record freed.
void BM_request_at_limit(benchmark::State& state) {
  script_directory script;
  request_side side(script.script_path(), 1);
  reference_request request;
  const bool full = state.range(0) != 0;
  if (full) {
    side.set_queue_limit(limit);
    for (std::int32_t i = 0; i < limit; ++i) side.notify(request);
  }
  std::int64_t queued = 0;
  for (auto _ : state) {
    side.notify(request);
    if (!full && ++queued == limit) {
      state.PauseTiming();
      side.clear_records();
      queued = 0;
      state.ResumeTiming();
    }
  }
  if (side.records().size() > static_cast<std::size_t>(limit)) state.SkipWithError("the limit did not hold");
  state.SetLabel(full ? "queue full: freed" : "queued");
}

// The module's serial path (take a state, on_enqueue, give it back, queue,
// take, on_dequeue) with arg 0: no time limit (no hook); arg 1: a 5 s limit.
void BM_serial_path_time_limit(benchmark::State& state) {
  const std::int32_t time_limit = state.range(0) != 0 ? 5000 : 0;
  script_directory script;
  script_state* main_state = new script_state;
  open_script_state(*main_state, script.script_path(), time_limit);
  script_state* pool_state = new script_state;
  open_script_state(*pool_state, script.script_path(), time_limit);
  guarded_queue<script_state> state_pool(&pool_state, 1);
  guarded_queue<record> record_queue;
  reference_request request;
  std::int32_t number = 0;
  for (auto _ : state) {
    script_state* borrowed = state_pool.take();
    request_handle handle{&request.context, &request.log};
    record* made = nullptr;
    bool kept = false;
    {
      const callback_deadline deadline(borrowed, time_limit);
      kept = run_on_enqueue(*borrowed, &handle, made);
    }
    state_pool.put(borrowed);
    if (!kept) {
      state.SkipWithError("on_enqueue kept no record");
      break;
    }
    record_queue.put(made);
    const callback_deadline deadline(main_state, time_limit);
    run_on_dequeue(*main_state, record_queue.take(), number++);
  }
  close_script_state(pool_state);
  close_script_state(main_state);
  state.SetLabel(time_limit > 0 ? "time_limit 5000" : "no time limit");
}

}  // namespace

BENCHMARK(BM_request_at_limit)->Arg(0)->Arg(1)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_serial_path_time_limit)->Arg(0)->Arg(1)->Unit(benchmark::kNanosecond);
