// A made-up but realistic IIS W3C log, the same for the same seed everywhere.
#pragma once

#include <cstdint>
#include <ostream>

struct sample_log_options {
  std::uint64_t lines = 20000;  // request lines, besides the directives
  std::uint64_t seed = 1;
};

// One day of traffic in several #Fields blocks, as a restarted site writes it.
void write_sample_log(std::ostream& out, const sample_log_options& options);
