// Records per second through the worker and a trivial on_dequeue, with the
// process's CPU time per record: the module's worker started over a queue
// filled beforehand, and stopped, which drains it.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench/bench_scale.h"
#include "bench/in_process.h"
#include "workqueue/worker.h"

namespace {

void BM_worker(benchmark::State& state) {
  script_directory script;
  open_state main_state(script.script_path());
  open_state pool_state(script.script_path());
  reference_request request;
  const std::int32_t process_interval = 0;
  const auto batch = static_cast<benchmark::IterationCount>(bench_batch);
  while (state.KeepRunningBatch(batch)) {
    state.PauseTiming();
    auto queue = std::make_unique<guarded_queue<record>>();
    const bool filled = fill_records(pool_state.get(), request, *queue, static_cast<std::size_t>(batch));
    worker_context context;
    context.record_queue = queue.get();
    context.main_state = &main_state.get();
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
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_worker)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kNanosecond);
