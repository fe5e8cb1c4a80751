// The replay host as a user runs it: a generated W3C log read, parsed and sent
// from two request threads through the real module with the reference script,
// the module loaded and unloaded around it. CPU of the whole process per line
// (reader, request threads and worker), to hold against BM_end_to_end's CPU per
// request for the module alone; sleeps_per_line shows how often a thread slept.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "bench/bench_scale.h"
#include "bench/process_usage.h"
#include "bench/reference.h"
#include "host/replay.h"
#include "host/sample_log.h"

namespace {

void BM_replay(benchmark::State& state) {
  script_directory script;
  const std::string log_path = (std::filesystem::path(script.path()) / "sample.log").string();
  {
    std::ofstream out(log_path, std::ios::binary);
    sample_log_options sample;
    sample.lines = bench_replay_lines;
    write_sample_log(out, sample);
  }
  replay_options options;
  options.inputs = {log_path};
  options.module_path = QUILLHARBOR_MODULE_PATH;
  options.script_path = script.script_path();
  options.threads = 2;
  options.progress = progress_mode::off;
  std::istringstream no_input;
  process_usage spent;
  std::uint64_t lines = 0;
  for (auto _ : state) {
    std::ostringstream err;
    replay_summary summary;
    const process_usage before = process_usage::now();
    const int status = run_replay(options, no_input, err, &summary);
    const process_usage used = process_usage::now() - before;
    if (status != exit_ok || summary.trace_lines != 0 || summary.notifications != bench_replay_lines) {
      state.SkipWithError(("the replay failed: " + err.str()).c_str());
      break;
    }
    spent.cpu_seconds += used.cpu_seconds;
    spent.voluntary_switches += used.voluntary_switches;
    lines += summary.lines_read;
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(lines));
  const double per_line = lines > 0 ? 1.0 / static_cast<double>(lines) : 0;
  state.counters["cpu_ns_per_line"] = spent.cpu_seconds * 1e9 * per_line;
  state.counters["sleeps_per_line"] = static_cast<double>(spent.voluntary_switches) * per_line;
}

}  // namespace

BENCHMARK(BM_replay)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond)->Iterations(3);
