// Sizes that the smoke run (quillharbor-bench --smoke) shrinks, so that every
// benchmark still runs, quickly, without claiming a figure. Set once by main.
#pragma once

#include <cstddef>

extern std::size_t bench_records;  // records queued by the memory benchmark
extern std::size_t bench_batch;    // requests per batch in batched benchmarks
extern std::size_t bench_paced;    // requests sent at 1,000 per second
extern double bench_idle_seconds;  // how long the idle filter is watched
extern std::size_t bench_replay_lines;  // request lines of the replayed sample log
