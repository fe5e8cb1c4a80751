// The floor outside Google Benchmark, for counting instructions.
#pragma once

#include <cstddef>

// `count` requests through the bare interpreter; false when one failed.
bool floor_requests(std::size_t count);
