// Runs of a fixed number of requests, for counting instructions under
// callgrind: the difference between two counts cancels loading and set-up.
#pragma once

#include <cstddef>

// "floor" or "module"; false for any other name or when a request failed.
bool run_requests(const char* path, std::size_t count);
