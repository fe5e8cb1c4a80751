// Records per second through the worker and a trivial on_dequeue, with the
// process's CPU time per record: the module's worker started over a queue
// filled beforehand, and stopped, which drains it.
#include <benchmark/benchmark.h>

#include "bench/in_process.h"

namespace {

void BM_worker(benchmark::State& state) {
  script_directory script;
  open_state main_state(script.script_path());
  open_state pool_state(script.script_path());
  reference_request request;
  drain_batches(state, main_state.get(), pool_state.get(), request);
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_worker)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kNanosecond);
