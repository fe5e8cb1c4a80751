// HttpFilterProc on one request thread through the real module with the
// reference script, the worker draining on the other core: median and p99.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "bench/staged_filter.h"

namespace {

void BM_http_filter_proc_latency(benchmark::State& state) {
  script_directory script;
  staged_filter filter(script.script_path(), 1);
  if (!filter.load()) {
    state.SkipWithError("GetFilterVersion failed");
    return;
  }
  reference_request request;
  std::vector<double> nanoseconds;
  nanoseconds.reserve(1 << 20);
  using clock = std::chrono::steady_clock;
  for (auto _ : state) {
    const auto start = clock::now();
    filter.notify(request);
    const auto end = clock::now();
    nanoseconds.push_back(std::chrono::duration<double, std::nano>(end - start).count());
  }
  filter.terminate();  // the loop has ended: not timed
  if (filter.trace_lines() != 0) state.SkipWithError("the script failed");
  if (nanoseconds.empty()) return;
  const auto at = [&nanoseconds](double quantile) {
    const auto n = static_cast<std::size_t>(quantile * static_cast<double>(nanoseconds.size() - 1));
    std::nth_element(nanoseconds.begin(), nanoseconds.begin() + static_cast<long>(n), nanoseconds.end());
    return nanoseconds[n];
  };
  state.counters["median_ns"] = at(0.5);
  state.counters["p99_ns"] = at(0.99);
}

}  // namespace

BENCHMARK(BM_http_filter_proc_latency)->Unit(benchmark::kNanosecond);
