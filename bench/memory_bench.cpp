// What one queued 8-field reference record holds on the C++ heap, its slot in
// the record queue included: live blocks and bytes counted by this program's
// operator new over many queued records. heap_bytes_per_record adds glibc's
// header and rounding to each block.
#include <benchmark/benchmark.h>

#include "bench/bench_scale.h"
#include "bench/counting_new.h"
#include "bench/in_process.h"

namespace {

void BM_memory_per_record(benchmark::State& state) {
  script_directory script;
  open_state pool_state(script.script_path());
  reference_request request;
  const std::size_t count = bench_records;
  for (auto _ : state) {
    guarded_queue<record> queue;
    const heap_count before = live_heap();
    if (!fill_records(pool_state.get(), request, queue, count)) {
      state.SkipWithError("on_enqueue kept no record");
      break;
    }
    const heap_count after = live_heap();
    const auto per_record = [count](long long total) {
      return static_cast<double>(total) / static_cast<double>(count);
    };
    state.counters["allocations_per_record"] = per_record(after.allocations - before.allocations);
    state.counters["bytes_per_record"] = per_record(after.bytes - before.bytes);
    state.counters["heap_bytes_per_record"] = per_record(after.heap_bytes - before.heap_bytes);
    while (queue.size() != 0) delete queue.take();
  }
}

}  // namespace

BENCHMARK(BM_memory_per_record)->Iterations(1)->Unit(benchmark::kMillisecond);
