// Notifications per second with 1, 2, 4 and 8 request threads, pool_size equal
// to the thread count and 1.
//
// BM_throughput goes through the real module, whose worker competes with the
// request threads for the machine's cores; drain_ms is how long TerminateFilter
// then took to hand the backlog to on_dequeue (near 0: the worker kept up).
// BM_request_side runs the module's notification code in this process with no
// worker at all, so it shows what the state pool and the record queue allow.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "bench/in_process.h"
#include "bench/staged_filter.h"

namespace {

int pool_size_for(const benchmark::State& state) {
  return state.range(0) != 0 ? state.threads() : 1;
}

std::unique_ptr<script_directory> shared_script;
std::unique_ptr<staged_filter> shared_filter;
std::unique_ptr<request_side> shared_side;

void BM_throughput(benchmark::State& state) {
  if (state.thread_index() == 0) {
    shared_script = std::make_unique<script_directory>();
    shared_filter = std::make_unique<staged_filter>(shared_script->script_path(), pool_size_for(state));
    if (!shared_filter->load()) state.SkipWithError("GetFilterVersion failed");
  }
  reference_request request;
  for (auto _ : state) shared_filter->notify(request);
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) {
    const auto start = std::chrono::steady_clock::now();
    shared_filter->terminate();
    state.counters["drain_ms"] =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (shared_filter->trace_lines() != 0) state.SkipWithError("the script failed");
    shared_filter.reset();
    shared_script.reset();
  }
}

void BM_request_side(benchmark::State& state) {
  if (state.thread_index() == 0) {
    shared_script = std::make_unique<script_directory>();
    shared_side = std::make_unique<request_side>(shared_script->script_path(), pool_size_for(state));
  }
  reference_request request;
  for (auto _ : state) shared_side->notify(request);
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) {
    if (shared_side->records().size() != static_cast<std::size_t>(state.iterations()) * state.threads())
      state.SkipWithError("a notification queued no record");
    shared_side.reset();
    shared_script.reset();
  }
}

}  // namespace

// pool_per_thread:1 is pool_size equal to the thread count, 0 is pool_size 1.
BENCHMARK(BM_throughput)->ArgName("pool_per_thread")->Arg(1)->UseRealTime()
    ->Threads(1)->Threads(2)->Threads(4)->Threads(8);
BENCHMARK(BM_throughput)->ArgName("pool_per_thread")->Arg(0)->UseRealTime()
    ->Threads(2)->Threads(4)->Threads(8);
BENCHMARK(BM_request_side)->ArgName("pool_per_thread")->Arg(1)->UseRealTime()
    ->Threads(1)->Threads(2)->Threads(4)->Threads(8);
BENCHMARK(BM_request_side)->ArgName("pool_per_thread")->Arg(0)->UseRealTime()
    ->Threads(2)->Threads(4)->Threads(8);
