// GetFilterVersion with pool_size 1, 8 and 64: every state opens the script.
#include <benchmark/benchmark.h>

#include "bench/staged_filter.h"

namespace {

void BM_load(benchmark::State& state) {
  script_directory script;
  staged_filter filter(script.script_path(), static_cast<int>(state.range(0)));
  for (auto _ : state) {
    if (!filter.load()) {
      state.SkipWithError("GetFilterVersion failed");
      break;
    }
    state.PauseTiming();
    filter.terminate();
    state.ResumeTiming();
  }
}

}  // namespace

BENCHMARK(BM_load)->ArgName("pool_size")->Arg(1)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond);
