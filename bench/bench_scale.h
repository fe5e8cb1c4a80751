// Sizes that the smoke run (quillharbor-bench --smoke) shrinks, so that every
// benchmark still runs, quickly, without claiming a figure. Set once by main.
#pragma once

#include <cstddef>

extern std::size_t bench_records;  // records queued by the memory benchmark
extern std::size_t bench_batch;    // requests per batch in batched benchmarks
