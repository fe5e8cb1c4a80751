// quillharbor-bench [--smoke] [Google Benchmark flags]
//   --smoke runs every benchmark once on small sizes: a check that they work,
//   not a measurement.
// quillharbor-bench --requests floor|module COUNT
//   only COUNT requests through the floor or the module, for callgrind.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "bench/bench_scale.h"
#include "bench/instruction_count.h"
#include "bench/ratio_reporter.h"

std::size_t bench_records = 100000;
std::size_t bench_batch = 20000;
std::size_t bench_paced = 5000;
double bench_idle_seconds = 10;
std::size_t bench_replay_lines = 200000;

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--requests") == 0)
    return run_requests(argv[2], std::strtoul(argv[3], nullptr, 10)) ? 0 : 1;
  std::vector<char*> args;
  std::string smoke_time = "--benchmark_min_time=0.001";
  bool smoke = false;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--smoke") == 0) {
      smoke = true;
      continue;
    }
    args.push_back(argv[i]);
  }
  if (smoke) {
    bench_records = 1000;
    bench_batch = 200;
    bench_paced = 20;
    bench_idle_seconds = 0.05;
    bench_replay_lines = 500;
    args.insert(args.begin() + 1, smoke_time.data());
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  ratio_reporter reporter;
  const std::size_t ran = benchmark::RunSpecifiedBenchmarks(&reporter);
  if (ran == 0) return 1;
  reporter.print_ratios(std::cout);
  if (smoke) std::cout << "(smoke run: the sizes are too small for these to mean anything)\n";
  benchmark::Shutdown();
  return reporter.failed() ? 1 : 0;
}
